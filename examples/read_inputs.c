/* Finds the units on the local network, connects the first one and prints
 * its digital inputs.
 *
 *   read_inputs [search-window-ms]
 */
#include <stdio.h>
#include <stdlib.h>

#include <wexo.h>

static int fail(const char *what) {
    char message[106];
    ZuWexoGetLastErrorMessage(message);
    fprintf(stderr, "%s failed: code %d %s\n", what, ZuWexoGetLastError(), message);
    ZuWexoEnd();
    return 1;
}

int main(int argc, char **argv) {
    int window = argc > 1 ? atoi(argv[1]) : 1000;
    unsigned int inputs = 0;
    int id = 0, model = 0, unit;

    ZuWexoInit();
    /* Only the unit used needs identifying, and connecting does that: a
     * search that identified every board would wait out each ASCII board's
     * silence to the binary query. */
    ZuWexoSetAutoRequestIdModel(0, 10003);
    if (ZuWexoSearch(window) <= 0) return fail("search");
    unit = ZuWexoConnect(0);
    if (unit < 0) return fail("connect");
    ZuWexoGetId(unit, &id);
    ZuWexoGetModel(unit, &model);
    if (!ZuWexoInPioAll(unit, &inputs)) return fail("read inputs");
    printf("unit %d: board ID %d, model %d, inputs 0x%02X\n", unit, id, model, inputs);
    ZuWexoClose(unit);
    ZuWexoEnd();
    return 0;
}
