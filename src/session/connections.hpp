// Opening a unit's command channel: the connect calls by index, board ID and
// model, address text, MAC address, and the direct connections to units that
// a broadcast does not reach.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace wexo {

constexpr uint16_t kDefaultCpPort = 30704;

// Common body of every connect call: identifies the board if its model is
// unknown, then opens the command channel to its data port. Returns index,
// or -1 with the code set (7 when already connected). Called under the lock.
int connect_(int index, int cp_port);

// Resolves host (dotted IPv4 text, else a name's first IPv4 address).
// Returns 0, or an errno-style number for the last-error code: the errno of
// a system failure, ENOMEM, or EHOSTUNREACH for any name that does not
// resolve (no such name, no IPv4 address, no answer from the resolver).
int resolve_ipv4(const char* host, in_addr* address);

// The record a direct connection uses: the first unconnected record after
// those of the last search, else a new one at the end of the table.
struct DirectSlot {
    int index;
    bool appended;
};
DirectSlot choose_direct_slot();

// Closes the command channel of record index: the steps of ZuWexoClose
// after its entry line. 1 when closed, 0 otherwise (code 0 when the unit was
// not connected).
int close_channel(int index);

// Gives record index the values of a directly addressed, unknown unit.
void set_fresh_record(int index, int timeout_ms);

}  // namespace wexo
