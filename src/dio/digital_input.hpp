// Reading digital inputs: the variants by board, the binary status reply,
// and the exchanges get_di_55 and get_di_DI.
#pragma once

#include <cstdint>

#include "core/capabilities.hpp"
#include "dio/channel_groups.hpp"
#include "session/unit_context.hpp"

namespace wexo::dio {

// The board's answer to 0x55 0x55: inputs 0 to 4, the model it reports
// (-1 for a pattern no model uses) and its board ID.
struct StatusReply {
    int model = -1;
    uint8_t board_id = 0;
    int32_t inputs[5] = {};
};
StatusReply decode_status(uint8_t byte0, uint8_t byte1);

// Status exchange: fills values 0 to 4, refreshes the record's board ID and
// checks the reported model against the record's. 1, or 0 with the code set.
int get_di_55(UnitContext& unit, Values& values);
// "DI" exchange: fills values 0 to n - 1 (1, 2, 4 or 8 when on). A reply
// without a data byte for every group of the unit's n inputs fails with code 9.
int get_di_DI(UnitContext& unit, Values& values);

// Reads every input of the unit by the variant its record calls for.
int read_inputs(UnitContext& unit, Values& values);

// The work of ZuWexoInPio and ZuWexoInPioAll after validation.
// read_all_inputs stores 0 into bits before the first exchange.
int read_input(UnitContext& unit, int channel, int32_t& value);
int read_all_inputs(UnitContext& unit, uint32_t& bits);

}  // namespace wexo::dio
