/*
 * libWEXO exported data.
 *
 * Kept out of <wexo.h>: the last-error code is exported as `error`, the name
 * of the function error(3) of glibc's <error.h>. Include this header only in
 * files that need the table or the globals directly; everything here is also
 * reachable through functions of <wexo.h>.
 *
 * The last-error code is the symbol error@WEXO_1.0, a version that is not the
 * default: a program that merely calls error(3) links glibc's function, and
 * programs built against older libraries, which reach the variable as plain
 * `error`, keep sharing it with the library. Name it `wexo_last_error`. The
 * old spelling `error` is declared as well, bound to the same variable, unless
 * WEXO_NO_ERROR_NAME is defined before this header (needed in a file that
 * also includes <error.h>). dlsym(handle, "error") finds glibc's function;
 * use dlvsym(handle, "error", "WEXO_1.0").
 */
#ifndef WEXO_DATA_H
#define WEXO_DATA_H

#include <pthread.h>

#include "wexo.h"

#ifdef __cplusplus
extern "C" {
#endif

WEXO_API extern wexo_device xportset[WEXO_MAX_DEVICES]; /* the device table */
WEXO_API extern int32_t xportcount;         /* number of valid records */
WEXO_API extern int32_t xportsearchcount;   /* records left by the last search */
WEXO_API extern int32_t initialized;        /* 1 between ZuWexoInit and ZuWexoEnd */
WEXO_API extern uint32_t wexo_last_error;   /* last-error code */
__asm__(".symver wexo_last_error, error@WEXO_1.0");
#ifndef WEXO_NO_ERROR_NAME
WEXO_API extern uint32_t error __asm__("wexo_last_error_as_error");
__asm__(".symver wexo_last_error_as_error, error@WEXO_1.0");
#endif
WEXO_API extern uint32_t output_loglevel;   /* log mask */
WEXO_API extern int32_t auto_requestid;     /* identify boards during a search */
WEXO_API extern uint32_t auto_requestid_port; /* data port that triggers it */
WEXO_API extern uint32_t g_lanaddr;         /* selected local interface, network order */
WEXO_API extern int32_t g_fSet_addr;        /* nonzero when g_lanaddr is selected */
WEXO_API extern pthread_mutex_t mutex;      /* held by search and connect calls */
WEXO_API extern char logfile[260];          /* not used by the library */
WEXO_API extern const int32_t bps_value[13];  /* serial rates in bit/s */
WEXO_API extern const int32_t bps_decode[13]; /* baud code <-> position in bps_value */
WEXO_API extern const int32_t MODEL_spec[WEXO_MODEL_COUNT][WEXO_MODEL_COLUMNS];
WEXO_API extern const int32_t autoswitchtime[33]; /* binary auto-switching times, ms */

#ifdef __cplusplus
}
#endif

#endif /* WEXO_DATA_H */
