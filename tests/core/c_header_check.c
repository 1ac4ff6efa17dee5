/* Compiled as C99 with warnings as errors: the public header must be usable
 * from C, next to glibc's <error.h>. */
#include <error.h>

#include "wexo.h"

int wexo_c_header_check(void) {
    wexo_device d;
    int id = 0;
    d.model_code = -1;
    (void)d;
    return ZuWexoGetId(0, &id) + WEXO_ERR_NOT_POSSIBLE + (int)sizeof(wexo_device);
}
