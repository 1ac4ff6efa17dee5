/* Opens the command channel of one unit given by host name or address,
 * without a broadcast, sends one raw ASCII command frame and prints the
 * reply: the smallest round trip through the library.
 *
 *   direct_command HOST DATA-PORT [LETTERS]     e.g. direct_command 10.200.0.2 10003 DI
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <wexo.h>

int main(int argc, char **argv) {
    const char *letters = argc > 3 ? argv[3] : "DI";
    unsigned char request[3], reply[256];
    int unit, got, i;

    if (argc < 3 || strlen(letters) != 2) {
        fprintf(stderr, "usage: %s HOST DATA-PORT [LETTERS]\n", argv[0]);
        return 2;
    }
    ZuWexoInit();
    unit = ZuWexoConnectDirect2(argv[1], 1000, atoi(argv[2]));
    if (unit < 0) {
        char message[106];
        ZuWexoGetLastErrorMessage(message);
        fprintf(stderr, "connect failed: code %d %s\n", ZuWexoGetLastError(), message);
        ZuWexoEnd();
        return 1;
    }
    request[0] = (unsigned char)letters[0];
    request[1] = (unsigned char)letters[1];
    request[2] = 0xC8; /* every ASCII frame ends with 0xC8 */
    if (ZuWexoSendSerialData(unit, request, 3) != 3) {
        fprintf(stderr, "send failed: code %d\n", ZuWexoGetLastError());
        ZuWexoEnd();
        return 1;
    }
    got = ZuWexoReceiveSerialData(unit, reply, (int)sizeof(reply));
    printf("sent %c%c C8, received %d bytes:", letters[0], letters[1], got);
    for (i = 0; i < got; ++i) printf(" %02X", reply[i]);
    printf("\n");
    ZuWexoEnd();
    return got > 0 ? 0 : 1;
}
