/* A stand-in of libWEXO.so.1 as older builds exported it: the last-error
 * code `error` without a version. legacy_error_probe links against it and
 * then runs against the real library. */
#include <stdint.h>

#include "wexo.h"

uint32_t error = 0;

int ZuWexoGetDllVersion(void) { return 0; }
int ZuWexoGetId(int index, int *id) { return index + (id != 0); }
int ZuWexoGetLastError(void) { return (int)error; }
