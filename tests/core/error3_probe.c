/* A new program that links the library and calls glibc's error(3) gets the
 * function, and reaches the last-error code as wexo_last_error. */
#define WEXO_NO_ERROR_NAME
#include <error.h>
#include <stdio.h>

#include "wexo_data.h"

int main(void) {
    int id = 0;
    /* Before ZuWexoInit every validating call stores code 1. */
    if (ZuWexoGetId(0, &id) != 0 || wexo_last_error != 1u) return 1;
    wexo_last_error = 0u;
    if (ZuWexoGetLastError() != 0) return 1;
    error(0, 0, "glibc's error(3) reached");
    puts("error3 ok");
    return 0;
}
