// The network module's configurable pins CP1..CP3, read and set over a short TCP
// connection of their own to the unit's cp_port.
#pragma once

#include <cstdint>

#include "wire/command_channel.hpp"
#include "wexo.h"
#include "session/unit_context.hpp"

namespace wexo {

// Firmware 1.5 changed the pin protocol: before it the module greets each
// connection and takes one- and two-byte requests; from 1.5 on it sends no
// greeting and takes nine-byte requests with a five-byte reply.
bool cp_long_form(const wexo_device& device);

// Requests and their reply lengths.
Frame cp_read_request(bool long_form);
Frame cp_write_request(bool long_form, uint8_t state);
int cp_reply_length(bool long_form);

// Pin levels as the state byte carries them: bit 0 CP1, bit 1 CP2, bit 2 CP3;
// any nonzero level counts as high.
uint8_t cp_state(int cp1, int cp2, int cp3);

// Read (0 or 1 per pin) or set the three pins. 1, or 0 with the code set;
// the connection is closed on every path.
int getcp(UnitContext& unit, int* cp1, int* cp2, int* cp3);
int setcp(UnitContext& unit, int cp1, int cp2, int cp3);

}  // namespace wexo
