/*
 * libWEXO: client library for networked WEXO I/O units.
 *
 * Every function returns a plain int: 1 for success and 0 for failure, or a
 * device index / count and -1 for failure (search and connect calls). After
 * any call, ZuWexoGetLastError() gives the reason of the last failure: a
 * library code (WEXO_ERR_*, 1 to 13) or an operating-system error number plus
 * WEXO_ERR_SYSTEM_BASE (10000). Outputs are written through the caller's
 * pointers only on success unless a function says otherwise.
 *
 * Units are addressed by a device index (0 to 255) into the library's device
 * table. The table itself and the other global data are declared in
 * <wexo_data.h>, kept apart from this header because one of them is exported
 * as `error`, the name of glibc's error(3) (see there).
 *
 * Threads. The library keeps no threads: every call runs on the caller's
 * thread and returns when it is done. Only ZuWexoSearch starts worker threads,
 * for its units' configuration queries and identifications, and joins them
 * before it returns; they block every signal (a handler of the caller's never
 * runs on them; the caller's own mask is left as it was), touch no global,
 * and what a caller sees is what asking the units one after another gives.
 * - Calls on different units may run on different threads at the same time.
 *   Calls on one unit must not overlap (their frames would interleave on the
 *   unit's one command channel): use each unit from one thread at a time.
 * - ZuWexoSearch, the connect calls and ZuWexoClose take the library mutex
 *   around their changes to the device table, so they may be called from
 *   several threads: they run one after the other, and a search may run
 *   against connect calls on other units. A search closes every command
 *   channel and rewrites every record, though: no other call may use a unit
 *   while it runs, and units connected before it must be connected again.
 *   A closed record may be taken over by a direct connect call on another
 *   thread; its index is no longer the caller's.
 * - The last-error code and the log mask are single process-wide values, not
 *   per thread: a thread may see the code another thread's call stored. Read
 *   the code right after your own call, with one thread per unit; it is
 *   exact only while no other thread's call ends in between.
 * - ZuWexoInit and ZuWexoEnd must not run concurrently with any other call.
 *   (A ZuWexoEnd at shutdown while a search or connect call runs on another
 *   thread waits for that call, then closes and clears everything; the call
 *   returns as it would have, and one that has not begun fails with code 1.)
 *   ZuWexoSelectNetworkDevice and ZuWexoSetAutoRequestIdModel change settings
 *   every socket or search reads, and belong before the threads start.
 * - No call is a cancellation point: a thread cancelled during a call ends
 *   at its next cancellation point after the call returns.
 * Log lines are written whole, but the lines of several threads interleave.
 */
#ifndef WEXO_H
#define WEXO_H

#include <netinet/in.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(WEXO_BUILDING_LIBRARY)
#define WEXO_API __attribute__((visibility("default")))
#else
#define WEXO_API
#endif

/* Version of this header; wexo_version() gives the library's at run time. */
#define WEXO_VERSION_MAJOR 1
#define WEXO_VERSION_MINOR 3
#define WEXO_VERSION_PATCH 0

/* ------------------------------------------------------------------ codes */

#define WEXO_OK                  0  /* no error */
#define WEXO_ERR_NOT_INITIALIZED 1  /* ZuWexoInit has not been called */
#define WEXO_ERR_NOT_FOUND       2  /* a search found no unit */
#define WEXO_ERR_INDEX_RANGE     3  /* device index not below the number of records */
#define WEXO_ERR_NO_MATCH        4  /* no unit matches, or a directly addressed unit did not answer */
#define WEXO_ERR_NOT_CONNECTED   5  /* the unit's command channel is not open */
#define WEXO_ERR_NOT_POSSIBLE    6  /* operation not offered, or a parameter out of range */
#define WEXO_ERR_ALREADY         7  /* already connected; or a found unit's configuration failed */
#define WEXO_ERR_TABLE_FULL      8  /* the device table is full */
#define WEXO_ERR_BAD_REPLY       9  /* unexpected, malformed or overlong reply */
#define WEXO_ERR_PARAMETER       10 /* reserved */
#define WEXO_ERR_SETTING         11 /* reserved */
#define WEXO_ERR_RESTART         12 /* reserved */
#define WEXO_ERR_NETMASK         13 /* reserved */
#define WEXO_ERR_SYSTEM_BASE     10000 /* codes >= this are errno + 10000 */
#define WEXO_ERR_CONNECT_TIMEOUT 10110 /* a TCP connect did not complete in time */

/* Log levels for ZuWexoSetLogLevel (bit mask; lines go to standard output). */
#define WEXO_LOG_ENTRY  1 /* the function's name on entry */
#define WEXO_LOG_RESULT 2 /* name and results on success */
#define WEXO_LOG_TRACE  4 /* bytes exchanged with a unit */
#define WEXO_LOG_ERROR  8 /* low-level send, receive and check failures */

#define WEXO_MAX_DEVICES 256
#define WEXO_MODEL_COUNT 48
#define WEXO_MODEL_COLUMNS 11

/* ------------------------------------------------------------------ types */

/* One device record of the table. The layout is fixed: applications read the
 * table directly through `xportset` (see <wexo_data.h>). */
typedef struct wexo_device {
    int32_t connected;          /* nonzero while the command channel is open */
    int32_t sock;               /* command channel descriptor (stale after close) */
    struct sockaddr_in unit_addr; /* the unit's address */
    uint8_t mac_address[6];     /* MAC address of the network module */
    char ip_text[16];           /* dotted-decimal address, NUL-terminated */
    uint16_t data_port;         /* TCP port of the command channel */
    uint16_t cp_port;           /* TCP port of the configurable pins */
    int32_t cp_mode[3];         /* function codes of CP1, CP2, CP3 */
    int32_t cp_flag;            /* 1 when byte 129 of cp_block is nonzero */
    uint8_t cp_block[130];      /* raw configurable-pin configuration block */
    uint8_t serial_flags;       /* bit 2: 8 data bits; bits 4,5: parity; bit 7: 2 stop bits */
    uint8_t baud_code;          /* module baud-rate code, 0 to 12 */
    uint8_t flow_control;       /* flow-control byte */
    uint8_t firm_major;         /* module firmware major version, 0 to 15 */
    uint8_t firm_minor;         /* module firmware minor version, 0 to 15 */
    char firm_type[2];          /* module firmware type letters, no NUL */
    uint8_t board_id;           /* 0 to 15; 255 while unknown */
    int32_t model_code;         /* row of the model table; -1 while unknown */
    int32_t timeout_ms;         /* time-out of the unit's TCP connections */
    int32_t unit_kind;          /* protocol variant: 0, 3, 4, 5 or 6 */
} wexo_device;

/* ------------------------------------------------ library, errors, logging */

/* Starts the library: clears the counters, enables automatic identification
 * for data port 10003, sets the log mask to 0. Returns 1. May be called again. */
WEXO_API int ZuWexoInit(void);
/* Closes every open command channel and ends the library. Returns 1. */
WEXO_API int ZuWexoEnd(void);
/* Returns the last-error code (0 to 13, or errno + 10000); does not clear it. */
WEXO_API int ZuWexoGetLastError(void);
/* Copies the last error's message (UTF-8 Japanese text, or "err:<code>" for
 * system codes) into buffer, which must hold at least 106 bytes. Returns 1. */
WEXO_API int ZuWexoGetLastErrorMessage(char *buffer);
/* Returns the library version, 130 for 1.3.0. */
WEXO_API int ZuWexoGetDllVersion(void);
/* Sets the log mask (WEXO_LOG_* bits). Returns 1. */
WEXO_API int ZuWexoSetLogLevel(unsigned int mask);
/* Enables (nonzero) or disables automatic identification during a search of
 * units whose data port equals port; disabling keeps the port. Returns 1, or
 * 0 with code 1 when not initialised. */
WEXO_API int ZuWexoSetAutoRequestIdModel(int enable, unsigned int port);

/* ---------------------------------------------------- device record access */
/* Each returns 1, or 0 with code 1 (not initialised), 6 (index above 255) or
 * 3 (index not below the number of records). No connection is needed. */

/* Copies the 16-byte dotted-decimal address (with its NUL) into text. */
WEXO_API int ZuWexoGetIpAddress(int index, char *text);
/* Copies the 6-byte MAC address into mac. */
WEXO_API int ZuWexoGetMacAddress(int index, unsigned char *mac);
/* Module firmware version as major*100 + minor*10 (6.1 gives 610). */
WEXO_API int ZuWexoGetFirmVersion(int index, int *version);
/* Stores a pointer to the record's two firmware-type letters (no NUL). */
WEXO_API int ZuWexoGetFirmType(int index, char **type);
/* The two firmware-type letters as one value, first letter in the low byte. */
WEXO_API int ZuWexoGetFirmType2(int index, unsigned short *type);
/* Board ID, 0 to 15, or 255 while unknown. */
WEXO_API int ZuWexoGetId(int index, int *id);
/* Model code, or -1 while unknown. */
WEXO_API int ZuWexoGetModel(int index, int *model);
/* Function codes of the configurable pins CP1..CP3 and the block flag. */
WEXO_API int ZuWexoGetCPMode(int index, int *cp1, int *cp2, int *cp3, int *flag);
/* Serial settings of the module: baud rate, data bits, parity (0 none,
 * 1, 2), stop bits, flow-control byte and the data port. */
WEXO_API int ZuWexoGetSerialParameter(int index, int *baud, int *databits, int *parity,
                                      int *stopbits, int *flow, int *port);
/* Sets the time-out of the unit's TCP connections; takes effect on the next
 * connection. Any value is accepted. */
WEXO_API int ZuWexoSetTimeOut(int index, int ms);
/* Sets the model code (for boards that identification cannot name). */
WEXO_API int ZuWexoSetModel(int index, int model);

/* ------------------------------------------------------ discovery, sessions */

/* Broadcasts a discovery query, waits timeout_ms for replies and rebuilds the
 * device table (closing every open channel first). Returns the number of
 * units, or -1. Code 2 when none answered; 7 when a unit's configuration
 * failed (that unit is dropped). */
WEXO_API int ZuWexoSearch(int timeout_ms);

/* Opens the command channel of record index (identifying the board first if
 * its model is unknown). Returns the index, or -1 (codes 1, 6, 3, 7,
 * identification codes, errno + 10000, 10110). */
WEXO_API int ZuWexoConnect(int index);
/* As ZuWexoConnect, for the first record with this board ID and model code;
 * code 4 when none matches. */
WEXO_API int ZuWexoConnectByIdModel(int id, int model);
/* As ZuWexoConnect, for the first record whose address text equals text. */
WEXO_API int ZuWexoConnectByIpAddress(const char *text);
/* As ZuWexoConnect, for the first record with this 6-byte MAC address. */
WEXO_API int ZuWexoConnectByMacAddress(const unsigned char *mac);
/* Adds a record for a unit addressed by host name or IPv4 text through its
 * module's UDP port udp_port, then connects it. data_port 0 keeps the port
 * the unit reports. Returns the device index, or -1 (code 8 when the table is
 * full, 4 when the unit does not answer). */
WEXO_API int ZuWexoConnectOverIPMasquerade(const char *host, int timeout_ms, int data_port,
                                           int cp_port, int udp_port);
/* ZuWexoConnectOverIPMasquerade(host, timeout_ms, 0, 30704, 30718). */
WEXO_API int ZuWexoConnectDirect(const char *host, int timeout_ms);
/* Adds a record for host and connects its data_port directly, with no module
 * exchange (configurable pins are then unavailable). Returns the index or -1. */
WEXO_API int ZuWexoConnectDirect2(const char *host, int timeout_ms, int data_port);

/* Closes the unit's command channel. Returns 1, or 0 (code 0 when the unit
 * was not connected). */
WEXO_API int ZuWexoClose(int index);
/* Binds every socket created afterwards to the local IPv4 address text; a
 * null pointer clears the selection. Returns 1, or 0 for invalid text. */
WEXO_API int ZuWexoSelectNetworkDevice(const char *text);

/* Asks the board for its board ID and model code and stores them in the
 * record and through id and model. Works on unconnected units (a temporary
 * connection is opened and closed). Returns 1, or 0 (codes 9, errno + 10000). */
WEXO_API int ZuWexoRequestIdModel(int index, int *id, int *model);

/* Sends length raw bytes on the command channel (input waiting unread is
 * discarded first). Returns the count sent, or 0 (code 5 when unconnected). */
WEXO_API int ZuWexoSendSerialData(int index, const unsigned char *data, int length);
/* Receives at most size raw bytes within the unit's time-out. Returns the
 * count, or 0 (EAGAIN + 10000 on time-out; code 0 when the unit closed). */
WEXO_API int ZuWexoReceiveSerialData(int index, unsigned char *buffer, int size);

/* ------------------------------------------------------ configurable pins */

/* Reads the levels (0 or 1) of the module's pins CP1..CP3 over a short TCP
 * connection to the unit's cp_port. No command channel needed. Returns 1, or
 * 0 (codes 1, 6, 3; errno + 10000 or 10110 when the pin port fails). */
WEXO_API int ZuWexoInCP(int index, int *cp1, int *cp2, int *cp3);
/* Sets the pins CP1..CP3 (nonzero = high). Returns and codes as ZuWexoInCP. */
WEXO_API int ZuWexoOutCP(int index, int cp1, int cp2, int cp3);

/* ------------------------------------------- network module configuration */
/* Assigns an address to the module whose MAC ends in mac4, mac5 (broadcast;
 * nothing is awaited). Each argument's low 8 bits are used. Needs no
 * ZuWexoInit. */
WEXO_API int ZuWexoSetIpAddress(unsigned int mac4, unsigned int mac5, unsigned int ip1,
                                unsigned int ip2, unsigned int ip3, unsigned int ip4);
/* Broadcasts a discovery query and assigns the address to the first module
 * that answers within timeout_ms; returns 1 when the window has ended. */
WEXO_API int ZuWexoFirstFoundSetIpAddress(int timeout_ms, unsigned int ip1, unsigned int ip2,
                                          unsigned int ip3, unsigned int ip4);
/* Switches the module's performance mode and waits (2 s, then up to 15
 * one-second probes) until it answers again; code 6 when it never does. */
WEXO_API int ZuWexoSetPerformance(int index, int on);
/* Restarts the module (nothing is awaited). */
WEXO_API int ZuWexoReset(int index);
/* Sets the pin functions of CP1..CP3 and the pin option, then waits up to
 * 20 s for the module to restart. The record's pin modes change at once. */
WEXO_API int ZuWexoSetCPMode(int index, int cp1_mode, int cp2_mode, int cp3_mode, int option);
/* Sets the module's serial port (baud rate in bit/s, data bits 7 or 8,
 * parity 0 none / 1 / 2, stop bits 1 or 2, flow control byte) and its data
 * port, then waits for the restart. */
WEXO_API int ZuWexoSetSerialParameter(int index, int baud, int data_bits, int parity,
                                      int stop_bits, int flow, int port);
/* Returns the module to its factory settings through its setup menu. */
WEXO_API int ZuWexoSetXPortDefault(int index);

/* -------------------------------------------------------- firmware update */
/* Loads one block of 2 x count bytes into the board's firmware (models 0
 * and 3 to 6, on an open command channel). address is only logged. */
WEXO_API int ZuWexoPicFirmwareUpdate(int index, int address, const unsigned char *data, int count);
/* Loads the firmware of an Intel HEX text (data and end-of-file records).
 * The whole text is checked before anything is sent: a bad record, data past
 * address 0xFFFF, data at addresses already given, or a missing end record
 * refuses it with code 6. Each block of contiguous addresses is one transfer;
 * an end record whose address does not follow the data (tool chains put it at
 * 0) closes the image with an empty transfer. A failed transfer ends the
 * update with its code; the result is 1 only when every transfer succeeded. */
WEXO_API int ZuWexoPicFirmwareUpdateIntelHex(int index, const char *text);

/* Extensions (not part of the original call set). */

/* An English text for a last-error code: the library's codes 0 to 13, and the
 * system's text for errno + 10000. Never NULL; the text is constant and may be
 * used from any thread. ZuWexoGetLastErrorMessage keeps the original texts. */
WEXO_API const char *wexo_strerror(int code);

/* The library's version, "MAJOR.MINOR.PATCH"; compare with WEXO_VERSION_*. */
WEXO_API const char *wexo_version(void);

/* Adds a record for the unit at host (host name or IPv4 text) from one
 * exchange with its module, as ZuWexoConnectDirect does, but neither
 * identifies the board nor opens the command channel. Returns the device
 * index, or -1 (codes as ZuWexoConnectDirect: 8, 4, errno + 10000). A later
 * ZuWexoConnect identifies the board unless its identity was set. */
WEXO_API int wexo_add_unit(const char *host, int timeout_ms);

/* Stores a board ID (0 to 15, or 255 when not known) and model code (0 to 47) that the caller knows
 * from an earlier identification, as identification would: the models of the
 * ASCII generation (16 to 47) also set the protocol variant (unit_kind) their
 * identification gives. A connect then skips identification. Code 6 for
 * values out of range. */
WEXO_API int wexo_set_identity(int index, int id, int model);

/* What a board offers: the one answer to "what does this unit have", from
 * the library's model rules (the model table with the unit kind's rules and
 * the models that differ by code). */
typedef struct wexo_unit_capabilities {
    int model;             /* model code */
    int unit_kind;         /* protocol variant the answer was resolved for */
    int digital_inputs;    /* channels 0 .. digital_inputs - 1 */
    int digital_outputs;
    int analog_inputs;
    int analog_outputs;
    int counters;          /* pulse counters: 0 none, 1 the counting channel
                              (ZuWexoPulseModeGetCount), else one per input
                              (ZuWexoPulseModeGetCount2) */
    int thermocouples;     /* analog inputs that take a thermocouple */
    unsigned int writable; /* WEXO_CAN_* bits: what can be written */
    int switching_frames;  /* WEXO_SWITCHING_*: the auto switching frames */
    int pulse_frames;      /* WEXO_PULSE_*: the pulse mode frames */
    unsigned int settings; /* WEXO_SETTING_* bits: the unit settings offered */
    unsigned int settings_in_eeprom; /* WEXO_SETTING_* bits of those kept in
                              EEPROM; the others are in parameter memory */
} wexo_unit_capabilities;

#define WEXO_SWITCHING_NONE   0
#define WEXO_SWITCHING_BINARY 1
#define WEXO_SWITCHING_ASCII  2

#define WEXO_PULSE_NONE  0
#define WEXO_PULSE_BASIC 1 /* one counting channel (ZuWexoPulseModeGetConfig) */
#define WEXO_PULSE_FULL  2 /* a setup and a counter per input, and alerts */
#define WEXO_PULSE_ASCII 3 /* a setup and a counter per input */

#define WEXO_SETTING_DISCONNECT_TIME 0x01u /* ZuWexo...DisconnectionTime */
#define WEXO_SETTING_NOTICE_TIME     0x02u /* ZuWexo...NoticeTime */
#define WEXO_SETTING_RESEND_WAIT     0x04u /* ZuWexo...ResendWaitTime */
#define WEXO_SETTING_DETECT_TIME     0x08u /* ZuWexo...DiDetectTime */
#define WEXO_SETTING_MAIL_MASKS      0x10u /* ZuWexo...DiMailLogic, ...DiMailEnable */

#define WEXO_CAN_DIGITAL_OUTPUTS 0x001u /* ZuWexoOutPio, ZuWexoOutPioAll */
#define WEXO_CAN_ANALOG_OUTPUTS  0x002u /* ZuWexoSetAnalogOutput... */
#define WEXO_CAN_AUTO_SWITCHING  0x004u /* ZuWexoSetAutoSwitching... */
#define WEXO_CAN_PULSE           0x008u /* pulse mode and its configuration */
#define WEXO_CAN_SETTINGS        0x010u /* at least one unit setting */
#define WEXO_CAN_EEPROM          0x020u /* ZuWexoWriteEEPROM */
#define WEXO_CAN_THERMOCOUPLES   0x040u /* ZuWexoSetTCConfig and the transmit scale */
#define WEXO_CAN_OUTPUT_ALERTS   0x080u /* ZuWexoSetDOAlertConfig */
#define WEXO_CAN_FIRMWARE        0x100u /* ZuWexoPicFirmwareUpdate */
#define WEXO_CAN_OUTPUTS_ON_PINS 0x200u /* the digital outputs are the module's pins */

/* What the unit of record index offers; its model must be known (connect or
 * identify first: code 6 while it is -1 or has no row). Returns 1, or 0
 * (codes 1, 3, 6; 6 also for a null out). */
WEXO_API int wexo_capabilities(int index, wexo_unit_capabilities *out);
/* The same for a model code and unit kind (0, 3, 4, 5 or 6), without a unit
 * or ZuWexoInit. Returns 1, or 0 with code 6 for a model without a row, an
 * unknown kind or a null out. */
WEXO_API int wexo_model_capabilities(int model, int unit_kind, wexo_unit_capabilities *out);

/* What an Intel HEX text holds. */
typedef struct wexo_hex_summary {
    int blocks;          /* contiguous blocks with data */
    int bytes;           /* data bytes in all */
    int first_address;   /* address of the first data byte, -1 when none */
    int last_address;    /* address after the last data byte */
    int error_line;      /* first bad record's line (1-based), 0 when valid */
} wexo_hex_summary;

/* Checks an Intel HEX text without a unit, as the firmware update would;
 * returns 1 when the update would load it (valid, with data). summary may be
 * NULL. */
WEXO_API int wexo_check_intel_hex(const char *text, wexo_hex_summary *summary);

/* Progress of a firmware update: data bytes sent so far and in all. Return
 * nonzero to cancel: nothing more is sent, and a block cancelled before its
 * last item went out never gets its commit byte. */
typedef int (*wexo_progress_fn)(int bytes_done, int bytes_total, void *user);

/* ZuWexoPicFirmwareUpdateIntelHex with a progress callback (may be NULL),
 * called after every two-byte item sent and after each block but the last.
 * A cancelled update returns 0 with code ECANCELED + 10000. */
WEXO_API int wexo_pic_firmware_update_hex(int index, const char *text, wexo_progress_fn progress,
                                          void *user);

/* ------------------------------------------------------------- digital I/O */
/* All need a connected, identified unit (codes 1, 5, 6 otherwise); channel
 * numbers outside the model's range fail with code 6 before anything is sent.
 * A reply that does not check out fails with code 9; a failed send or
 * receive with errno + 10000. */

/* Reads one input; the value is 0 for off, nonzero for on (ASCII boards give
 * 1, 2, 4 or 8 by the channel's place in its group of four). */
WEXO_API int ZuWexoInPio(int index, int channel, int *value);
/* Reads all inputs; bit i is input i. 0 is stored first, so a failure after
 * validation leaves 0. */
WEXO_API int ZuWexoInPioAll(int index, unsigned int *bits);
/* Sets one output (value 0 off, nonzero on). */
WEXO_API int ZuWexoOutPio(int index, int channel, int value);
/* Sets all outputs; bit i is output i, bits at and above the count ignored. */
WEXO_API int ZuWexoOutPioAll(int index, unsigned int bits);
/* Reads back one output (0 off; nonzero on, as ZuWexoInPio). */
WEXO_API int ZuWexoGetOut(int index, int channel, int *value);
/* Reads back all outputs; bit i is output i. */
WEXO_API int ZuWexoGetOutAll(int index, unsigned int *bits);

/* ----------------------------------------------------------- auto switching */
/* Boards switch outputs on their own timetable. Code 6 where the model has
 * no auto switching. Binary boards have one time for all outputs; ASCII
 * boards two durations per output in 100 ms steps. Failures as for digital
 * I/O above. */

/* Switches auto switching on (flag nonzero) or off. */
WEXO_API int ZuWexoSetAutoSwitchingActive(int index, int flag);
/* Reads whether auto switching is on (binary boards report their raw byte). */
WEXO_API int ZuWexoGetAutoSwitchingActive(int index, int *flag);
/* Selects the outputs that take part (bit i = output i; binary boards take
 * outputs 0 to 4). */
WEXO_API int ZuWexoSetAutoSwitchingPio(int index, int mask);
/* Reads the outputs that take part. 0 is stored first on ASCII boards. */
WEXO_API int ZuWexoGetAutoSwitchingPio(int index, unsigned int *mask);
/* Sets the switching time. Binary boards: rounded up to the next of 33
 * fixed times (100 ms to 15 s; above 15 s code 6). ASCII boards: 1 to 25500
 * ms (else code 6), sent in whole 100 ms steps as both durations of every
 * output. */
WEXO_API int ZuWexoSetAutoSwitchingTime(int index, int ms);
/* Reads the switching time in ms (ASCII boards: the first duration of the
 * lowest output taking part; code 9 when none takes part). */
WEXO_API int ZuWexoGetAutoSwitchingTime(int index, int *ms);
/* ASCII boards only: sets the two durations of one output, 100 to 25599 ms
 * each (whole 100 ms steps); code 6 otherwise. */
WEXO_API int ZuWexoSetAutoSwitchingChannel(int index, int output, int first_ms, int second_ms);
/* ASCII boards only: reads the two durations of one output in ms. */
WEXO_API int ZuWexoGetAutoSwitchingChannel(int index, int output, unsigned int *first_ms,
                                           unsigned int *second_ms);

/* -------------------------------------------------------------- analog I/O */
/* All need a connected, identified unit (codes 1, 5, 6 otherwise) whose
 * model has analog inputs (or outputs, for the output calls); channels,
 * codes and null result pointers out of range fail with code 6 before
 * anything is sent. A reply that is too short or names another channel fails
 * with code 9. */

/* Raw count of one analog input: signed 24 bits, -8388608 to 8388607. */
WEXO_API int ZuWexoGetAnalogInput(int index, int channel, int *count);
/* Raw counts of the first min(n, inputs) analog inputs in one exchange.
 * Returns the number stored (counts must hold n entries), 0 on failure. */
WEXO_API int ZuWexoGetAnalogInputAll(int index, int n, int *counts);
/* One input's range code and its count converted by that range's full
 * scale (0: 0.1, 1: 1, 2: 10, 3: 30, 4 and 5: 20, 6: 3276.8). */
WEXO_API int ZuWexoGetAnalogInputByValue(int index, int channel, int *range, double *value);
/* Range code of one input, 0 to 7 as the board reports it. */
WEXO_API int ZuWexoGetAnalogInputRange(int index, int channel, int *range);
/* Sets one input's range code, 0 to 6 (6 refused on model 40). */
WEXO_API int ZuWexoSetAnalogInputRange(int index, int channel, int range);
/* Sets the converter's sampling-rate code, 0 to 7, for the whole unit. */
WEXO_API int ZuWexoSetAnalogInputADCsps(int index, int code);
/* Reads and sets the unit's transmit-cycle code, 0 to 13. */
WEXO_API int ZuWexoGetAiTransmitCycle(int index, int *code);
WEXO_API int ZuWexoSetAiTransmitCycle(int index, int code);

/* Analog outputs: mode 0 voltage (raw 32767 = 10 V, -32768 = -10 V), mode 1
 * current (raw 32767 = 20 mA, negative raw sent as 0). Raw values are
 * clamped to -32768..32767. The Initial calls set the value the output takes
 * at power-up. */
WEXO_API int ZuWexoSetAnalogOutput(int index, int channel, int mode, int raw);
/* n entries of parallel arrays (channel, mode, raw) in one frame; any bad
 * entry refuses the whole frame. */
WEXO_API int ZuWexoSetAnalogOutputMulti(int index, int n, const int *channels, const int *modes,
                                        const int *raws);
WEXO_API int ZuWexoSetAnalogOutputVoltage(int index, int channel, double volts);
WEXO_API int ZuWexoSetAnalogOutputCurrent(int index, int channel, double milliamperes);
WEXO_API int ZuWexoSetInitialAnalogOutput(int index, int channel, int mode, int raw);
WEXO_API int ZuWexoSetInitialAnalogOutputVoltage(int index, int channel, double volts);
WEXO_API int ZuWexoSetInitialAnalogOutputCurrent(int index, int channel, double milliamperes);
/* Reads back one output's mode and raw value, or its value in V or mA. */
WEXO_API int ZuWexoGetAnalogOutput(int index, int channel, int *mode, int *raw);
WEXO_API int ZuWexoGetAnalogOutputByValue(int index, int channel, int *mode, double *value);

/* Thermocouples on the analog inputs (models with analog inputs except 40):
 * type code 0 to 7, three flags, and a transmit scale (mode 0 to 3, low and
 * high in whole units, sent in tenths clamped to -3276.8..3276.7). */
WEXO_API int ZuWexoSetTCConfig(int index, int channel, int type, int flag0, int flag1, int flag2);
/* Type with flags 0 and 1 set, flag 2 clear. */
WEXO_API int ZuWexoSetTCType(int index, int channel, int type);
WEXO_API int ZuWexoGetTCConfig(int index, int channel, int *type, int *flag0, int *flag1,
                               int *flag2);
WEXO_API int ZuWexoSetTCTransmitScale(int index, int channel, int mode, double low, double high);
WEXO_API int ZuWexoGetTCTransmitScale(int index, int channel, int *mode, double *low,
                                      double *high);

/* Thresholds (raw units, clamped to -32768..32767) of the analog inputs, or
 * of the analog outputs on a model without inputs, and the inputs' mail
 * condition (0 to 2). */
WEXO_API int ZuWexoGetAnalogThresholds(int index, int channel, int *enabled, int *threshold1,
                                       int *threshold2);
WEXO_API int ZuWexoSetAnalogThresholds(int index, int channel, int enable, int threshold1,
                                       int threshold2);
WEXO_API int ZuWexoGetAiMailCondition(int index, int channel, int *condition);
WEXO_API int ZuWexoSetAiMailCondition(int index, int channel, unsigned int condition);

/* --------------------------------------------------- parameter memory */
/* Raw access to the board's parameter memory (binary frames whose first
 * byte is the parameter code). All need a connected, identified unit; the
 * two-form calls take 1 to 16 bytes. A read succeeds when the reply repeats
 * the code, a write when the reply repeats the whole request. */
WEXO_API int setPICparameter(int index, int code, int value);
WEXO_API int getPICparameter(int index, int code, int argument, unsigned int *value);
WEXO_API int getPICparameter2(int index, const unsigned char *request, int request_length,
                              unsigned char *reply, int reply_length);
WEXO_API int setPICparameter2(int index, const unsigned char *request, int length);

/* ------------------------------------------------------------ pulse mode */
/* Counting pulses on the digital inputs. The frames follow the model
 * (parameter memory, basic or full set, or ASCII commands); a call the model does
 * not offer fails with code 6 before anything is sent. updown: 0 "UP",
 * nonzero "DOWN". setting_a 0..3; setting_b 0 or 4..20. */
WEXO_API int ZuWexoPulseModeSetConfig(int index, int channel, int updown, int setting_a,
                                      int setting_b);
WEXO_API int ZuWexoPulseModeSetConfig2(int index, int setting_a, int setting_b);
WEXO_API int ZuWexoPulseModeSetConfigChannel(int index, int channel, int enable, int updown);
/* The counting channel (-1: none on the parameter boards), its sense and the settings. */
WEXO_API int ZuWexoPulseModeGetConfig(int index, int *channel, int *updown, int *setting_a,
                                      int *setting_b);
WEXO_API int ZuWexoPulseModeGetConfig2(int index, int *setting_a, int *setting_b);
WEXO_API int ZuWexoPulseModeGetConfigChannel(int index, int channel, int *enable, int *updown);
/* 16-bit count of the counting channel (0..65535; -1 for a board-reported
 * overflow on the parameter boards), and the 32-bit count of one channel. */
WEXO_API int ZuWexoPulseModeGetCount(int index, int *count);
WEXO_API int ZuWexoPulseModeGetCount2(int index, int channel, long long *count);
/* Pulse mode on/off and its state (1 on, 0 off); On and Off ask for the
 * state first and send nothing when it already is what they would set. */
WEXO_API int ZuWexoPulseModeGetState(int index, int *state);
WEXO_API int ZuWexoPulseModeOn(int index);
WEXO_API int ZuWexoPulseModeOff(int index);
WEXO_API int ZuWexoPulseModeContinuesOn(int index);
WEXO_API int ZuWexoPulseModeContinuesOff(int index);
WEXO_API int ZuWexoPulseModeContinuesGetState(int index, int *state);
/* Pulse alert (full-set parameter boards only): channel, mode 0..3 and a
 * 32-bit value (the low 32 bits of alert_value are sent). */
WEXO_API int ZuWexoPulseModeSetAlart(int index, int channel, int alert_mode, long long alert_value);
WEXO_API int ZuWexoPulseModeGetAlart(int index, int *channel, int *alert_mode,
                                     long long *alert_value);

/* ------------------------------------------------ output alerts, reset time */
/* Reset time 0..10, on any connected unit. */
WEXO_API int ZuWexoSetResetTime(int index, int reset_time);
/* Output alerts of model 42's two outputs: channel 0 or 1, mode 0..2, value
 * 0..65535 (clamped). */
WEXO_API int ZuWexoDOAlertStartStop(int index, int channel, int start);
WEXO_API int ZuWexoSetDOAlertConfig(int index, int channel, int mode, int flag, int value);
WEXO_API int ZuWexoGetDOAlertStatus(int index, int channel, int *started, int *mode, int *flag,
                                    int *value);

/* --------------------------------------------------------- unit settings */
/* Raw EEPROM bytes (addresses 0..4095), one exchange per byte; the first
 * failure ends the call, bytes already transferred stay transferred. */
WEXO_API int ZuWexoReadEEPROM(int index, int address, int count, unsigned char *buffer);
WEXO_API int ZuWexoWriteEEPROM(int index, int address, int count, const unsigned char *data);
/* Settings kept by the board, in its parameter memory or its EEPROM as the
 * model says; code 6 where the model has no such setting. Accepted values:
 * disconnection time 0..15, notice time 0..4, resend wait time 1..15,
 * digital-input detect time 4..20, mail masks 0..31 (low byte). */
WEXO_API int ZuWexoGetDisconnectionTime(int index, unsigned int *value);
WEXO_API int ZuWexoSetDisconnectionTime(int index, int value);
WEXO_API int ZuWexoGetNoticeTime(int index, unsigned int *value);
WEXO_API int ZuWexoSetNoticeTime(int index, int value);
WEXO_API int ZuWexoGetResendWaitTime(int index, unsigned int *value);
WEXO_API int ZuWexoSetResendWaitTime(int index, int value);
WEXO_API int ZuWexoGetDiDetectTime(int index, unsigned int *value);
WEXO_API int ZuWexoSetDiDetectTime(int index, int value);
WEXO_API int ZuWexoGetDiMailLogic(int index, unsigned int *mask);
WEXO_API int ZuWexoSetDiMailLogic(int index, int mask);
WEXO_API int ZuWexoGetDiMailEnable(int index, unsigned int *mask);
WEXO_API int ZuWexoSetDiMailEnable(int index, int mask);
/* The analog converter's sampling-rate code as the board stored it. */
WEXO_API int ZuWexoGetAnalogInputADCsps(int index, int *code);

#ifdef __cplusplus
}
#endif

#endif /* WEXO_H */
