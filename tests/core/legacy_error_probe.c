/* A program built against a library that exported `error` without a
 * version (tests/core/legacy_standin.c), run against this library: the
 * program's `error` (its copy of the variable, in a non-PIE build) and the
 * library's last-error code must stay one variable. */
#include <stdint.h>
#include <stdio.h>

#include "wexo.h"

extern uint32_t error;

int main(void) {
    int id = 0;
    if (ZuWexoGetDllVersion() != 130) {
        puts("the stand-in was loaded, not the library");
        return 1;
    }
    /* Before ZuWexoInit every validating call stores code 1. */
    if (ZuWexoGetId(0, &id) != 0 || error != 1u) {
        printf("the library stored code 1, the program reads %u\n", (unsigned)error);
        return 1;
    }
    error = 77u;
    if (ZuWexoGetLastError() != 77) {
        printf("the program stored 77, the library reads %d\n", ZuWexoGetLastError());
        return 1;
    }
    puts("legacy error ok");
    return 0;
}
