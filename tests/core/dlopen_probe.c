/* Loads libWEXO with dlopen after libc, as Python's ctypes or a plugin host
 * would, and makes the library store a last-error code. The library's own
 * references to its global `error` must not bind to glibc's error(3). The
 * variable is error@WEXO_1.0, not a default version: dlvsym names it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    int (*get_id)(int, int *) = (int (*)(int, int *))dlsym(lib, "ZuWexoGetId");
    int (*last_error)(void) = (int (*)(void))dlsym(lib, "ZuWexoGetLastError");
    unsigned *code = (unsigned *)dlvsym(lib, "error", "WEXO_1.0");
    if (get_id == NULL || last_error == NULL || code == NULL) return 2;
    int id = 0;
    /* Before ZuWexoInit every validating call stores code 1. */
    if (get_id(0, &id) != 0 || last_error() != 1 || *code != 1u) {
        fprintf(stderr, "unexpected code %d\n", last_error());
        return 1;
    }
    puts("ok");
    return 0;
}
