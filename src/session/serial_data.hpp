// Serial pass-through: the caller's raw bytes on a unit's command channel.
#pragma once

#include <cstdint>

namespace wexo {

struct UnitContext;

// Bodies of ZuWexoSendSerialData and ZuWexoReceiveSerialData once the unit is
// known to hold an open channel. Each returns the byte count or 0.
// The send drains pending input first: for its 1 ms window, or with quick
// set only what is already waiting (the firmware loader's many items).
int send_serial_data(UnitContext& unit, const uint8_t* data, int length, bool quick = false);
int receive_serial_data(UnitContext& unit, uint8_t* buffer, int size);

}  // namespace wexo
