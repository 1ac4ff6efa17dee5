// Analog outputs (ZuWexoSetAnalogOutput and its variants, ZuWexoGetAnalogOutput,
// ...ByValue).
#include <cstdint>
#include <string>

#include "analog/analog.hpp"
#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "session/unit_context.hpp"

namespace wexo::analog {

namespace {

constexpr int kRawDigits = 4;
constexpr int kEntryBytes = 5;  // channel byte and four hex digits

// Both setters share their lines: AO and AQ differ only in the letter.
constexpr Command kAOAQ = analog_setter("requestid AOAQ");
constexpr Command kAY = [] {
    Command c = analog_query("requestid AY", 8);
    c.reply.echo = 0;  // the channel comes back in either mode's byte: checked below
    c.recv_line = "%s recv error. len = %d";
    return c;
}();

// A unit with analog outputs, and channel one of them; code 6 otherwise.
bool output_channel(UnitContext& unit, int channel) {
    const auto board = unit.board();
    return board && offered(board->analog_outputs() > 0) &&
           in_range(channel, 0, board->analog_outputs() - 1);
}

int set_outputs(UnitContext& unit, char letter, int n, const int* channels, const int* modes,
                const int* raws) {
    Frame request;
    if (!in_range(n, 1, INT32_MAX) || !offered(output_request(letter, n, channels, modes, raws, request))) {
        return 0;
    }
    Reply reply;
    if (!exchange(unit.link, kAOAQ, request, reply)) return 0;
    // Each entry's line shows the reply's bytes at that entry's place, no
    // more than the reply holds.
    for (int i = 0; i < n; ++i) {
        std::string shown;
        for (int at = 3 + kEntryBytes * i; at < 3 + kEntryBytes * i + kRawDigits && at < reply.size(); ++at) {
            shown += static_cast<char>(reply.byte(at));
        }
        result_line("set_ao_AOAQ : %s", shown.c_str());
    }
    return 1;
}

// One entry through AO or AQ, on a checked output channel.
int set_one(UnitContext& unit, char letter, int channel, int mode, int32_t raw) {
    if (!output_channel(unit, channel)) return 0;
    return set_outputs(unit, letter, 1, &channel, &mode, &raw);
}

}  // namespace

int set_ao_AO(UnitContext& unit, int n, const int* channels, const int* modes, const int* raws) {
    return set_outputs(unit, 'O', n, channels, modes, raws);
}

int set_ao_AQ(UnitContext& unit, int n, const int* channels, const int* modes, const int* raws) {
    return set_outputs(unit, 'Q', n, channels, modes, raws);
}

int get_ao_AY(UnitContext& unit, int channel, int32_t* mode, int32_t* raw) {
    const uint8_t voltage = output_channel_byte(channel, 0);
    const Frame request = Frame::ascii('A', 'Y').push(voltage).terminate();
    Reply reply;
    if (!exchange(unit.link, kAY, request, reply)) return 0;
    const uint8_t named = reply.byte(2);
    if (named != voltage && named != output_channel_byte(channel, 1)) {
        set_error(kBadReply);
        return 0;
    }
    const auto value = reply.signed_hex(3, kRawDigits);
    if (!hex_fields_read(value)) return 0;
    *mode = named == voltage ? 0 : 1;
    *raw = *value;
    return result_line("get_ao_AY : %d %d", *mode, *raw);
}

}  // namespace wexo::analog

using namespace wexo;
using namespace wexo::analog;

extern "C" int ZuWexoSetAnalogOutput(int index, int channel, int mode, int raw) {
    return on_unit("ZuWexoSetAnalogOutput", index,
                   [&](UnitContext& unit) { return set_one(unit, 'O', channel, mode, raw); });
}

extern "C" int ZuWexoSetInitialAnalogOutput(int index, int channel, int mode, int raw) {
    return on_unit("ZuWexoSetInitialAnalogOutput", index,
                   [&](UnitContext& unit) { return set_one(unit, 'Q', channel, mode, raw); });
}

extern "C" int ZuWexoSetAnalogOutputVoltage(int index, int channel, double volts) {
    return on_unit("ZuWexoSetAnalogOutputVoltage", index, [&](UnitContext& unit) {
        return set_one(unit, 'O', channel, 0, volts_to_raw(volts));
    });
}

extern "C" int ZuWexoSetInitialAnalogOutputVoltage(int index, int channel, double volts) {
    return on_unit("ZuWexoSetInitialAnalogOutputVoltage", index, [&](UnitContext& unit) {
        return set_one(unit, 'Q', channel, 0, volts_to_raw(volts));
    });
}

extern "C" int ZuWexoSetAnalogOutputCurrent(int index, int channel, double milliamperes) {
    return on_unit("ZuWexoSetAnalogOutputCurrent", index, [&](UnitContext& unit) {
        return set_one(unit, 'O', channel, 1, milliamperes_to_raw(milliamperes));
    });
}

extern "C" int ZuWexoSetInitialAnalogOutputCurrent(int index, int channel, double milliamperes) {
    return on_unit("ZuWexoSetInitialAnalogOutputCurrent", index, [&](UnitContext& unit) {
        return set_one(unit, 'Q', channel, 1, milliamperes_to_raw(milliamperes));
    });
}

extern "C" int ZuWexoSetAnalogOutputMulti(int index, int n, const int* channels, const int* modes,
                                          const int* raws) {
    return on_unit("ZuWexoSetAnalogOutputMulti", index, [&](UnitContext& unit) {
        const auto board = unit.board();
        if (!board || !outputs_given(channels, modes, raws) ||
            !in_range(n, 1, board->analog_outputs())) {
            return 0;
        }
        for (int i = 0; i < n; ++i) {
            if (!in_range(channels[i], 0, board->analog_outputs() - 1)) return 0;
        }
        return set_ao_AO(unit, n, channels, modes, raws);
    });
}

extern "C" int ZuWexoGetAnalogOutput(int index, int channel, int* mode, int* raw) {
    return on_unit("ZuWexoGetAnalogOutput", index, [&](UnitContext& unit) {
        if (!outputs_given(mode, raw) || !output_channel(unit, channel)) return 0;
        return get_ao_AY(unit, channel, mode, raw);
    });
}

extern "C" int ZuWexoGetAnalogOutputByValue(int index, int channel, int* mode, double* value) {
    return on_unit("ZuWexoGetAnalogOutputByValue", index, [&](UnitContext& unit) {
        if (!outputs_given(mode, value) || !output_channel(unit, channel)) return 0;
        int32_t raw = 0;
        if (!get_ao_AY(unit, channel, mode, &raw)) return 0;
        *value = raw_to_value(raw, *mode);
        return 1;
    });
}
