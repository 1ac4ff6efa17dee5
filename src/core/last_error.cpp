// The storage of the last-error code. It is exported only as error@WEXO_1.0,
// a version that is not the default, so that a program linking the library
// and calling glibc's error(3) gets the function. The name below stays
// local (the version script exports no such name); the library's own code
// reaches the code through the versioned symbol (wexo_last_error in
// <wexo_data.h>), never through this name, so that a program's copy of
// `error` (a copy relocation) stays the one variable both sides use.
#include <cstdint>

// Named `error` in the debug information, as the ABI baseline knows it. The
// attribute form of the version survives link-time optimisation, which would
// drop a definition named only by a top-level .symver.
#if defined(__has_attribute) && __has_attribute(symver)
#define WEXO_ERROR_VERSION __attribute__((symver("error@WEXO_1.0")))
#else
#define WEXO_ERROR_VERSION
__asm__(".symver wexo_error_storage, error@WEXO_1.0");
#endif

extern "C" {
__attribute__((visibility("default"))) WEXO_ERROR_VERSION uint32_t error
    __asm__("wexo_error_storage") = 0;
}
