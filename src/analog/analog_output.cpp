// Analog outputs (ZuWexoSetAnalogOutput and its variants, ZuWexoGetAnalogOutput,
// ...ByValue).
#include <cstdint>
#include <string>

#include "analog/analog.hpp"
#include "core/call.hpp"
#include "core/capabilities.hpp"

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
bool output_channel(int index, int channel) {
    const auto board = Board::of(index);
    return board && offered(board->analog_outputs() > 0) &&
           in_range(channel, 0, board->analog_outputs() - 1);
}

int set_outputs(int index, char letter, int n, const int* channels, const int* modes,
                const int* raws) {
    Frame request;
    if (!in_range(n, 1, INT32_MAX) || !offered(output_request(letter, n, channels, modes, raws, request))) {
        return 0;
    }
    Reply reply;
    if (!exchange(index, kAOAQ, request, reply)) return 0;
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
int set_one(int index, char letter, int channel, int mode, int32_t raw) {
    if (!output_channel(index, channel)) return 0;
    return set_outputs(index, letter, 1, &channel, &mode, &raw);
}

}  // namespace

int set_ao_AO(int index, int n, const int* channels, const int* modes, const int* raws) {
    return set_outputs(index, 'O', n, channels, modes, raws);
}

int set_ao_AQ(int index, int n, const int* channels, const int* modes, const int* raws) {
    return set_outputs(index, 'Q', n, channels, modes, raws);
}

int get_ao_AY(int index, int channel, int32_t* mode, int32_t* raw) {
    const uint8_t voltage = output_channel_byte(channel, 0);
    const Frame request = Frame::ascii('A', 'Y').push(voltage).terminate();
    Reply reply;
    if (!exchange(index, kAY, request, reply)) return 0;
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
    return unit_call("ZuWexoSetAnalogOutput", index,
                     [&] { return set_one(index, 'O', channel, mode, raw); });
}

extern "C" int ZuWexoSetInitialAnalogOutput(int index, int channel, int mode, int raw) {
    return unit_call("ZuWexoSetInitialAnalogOutput", index,
                     [&] { return set_one(index, 'Q', channel, mode, raw); });
}

extern "C" int ZuWexoSetAnalogOutputVoltage(int index, int channel, double volts) {
    return unit_call("ZuWexoSetAnalogOutputVoltage", index,
                     [&] { return set_one(index, 'O', channel, 0, volts_to_raw(volts)); });
}

extern "C" int ZuWexoSetInitialAnalogOutputVoltage(int index, int channel, double volts) {
    return unit_call("ZuWexoSetInitialAnalogOutputVoltage", index,
                     [&] { return set_one(index, 'Q', channel, 0, volts_to_raw(volts)); });
}

extern "C" int ZuWexoSetAnalogOutputCurrent(int index, int channel, double milliamperes) {
    return unit_call("ZuWexoSetAnalogOutputCurrent", index, [&] {
        return set_one(index, 'O', channel, 1, milliamperes_to_raw(milliamperes));
    });
}

extern "C" int ZuWexoSetInitialAnalogOutputCurrent(int index, int channel, double milliamperes) {
    return unit_call("ZuWexoSetInitialAnalogOutputCurrent", index, [&] {
        return set_one(index, 'Q', channel, 1, milliamperes_to_raw(milliamperes));
    });
}

extern "C" int ZuWexoSetAnalogOutputMulti(int index, int n, const int* channels, const int* modes,
                                          const int* raws) {
    return unit_call("ZuWexoSetAnalogOutputMulti", index, [&] {
        const auto board = Board::of(index);
        if (!board || !outputs_given(channels, modes, raws) ||
            !in_range(n, 1, board->analog_outputs())) {
            return 0;
        }
        for (int i = 0; i < n; ++i) {
            if (!in_range(channels[i], 0, board->analog_outputs() - 1)) return 0;
        }
        return set_ao_AO(index, n, channels, modes, raws);
    });
}

extern "C" int ZuWexoGetAnalogOutput(int index, int channel, int* mode, int* raw) {
    return unit_call("ZuWexoGetAnalogOutput", index, [&] {
        if (!outputs_given(mode, raw) || !output_channel(index, channel)) return 0;
        return get_ao_AY(index, channel, mode, raw);
    });
}

extern "C" int ZuWexoGetAnalogOutputByValue(int index, int channel, int* mode, double* value) {
    return unit_call("ZuWexoGetAnalogOutputByValue", index, [&] {
        if (!outputs_given(mode, value) || !output_channel(index, channel)) return 0;
        int32_t raw = 0;
        if (!get_ao_AY(index, channel, mode, &raw)) return 0;
        *value = raw_to_value(raw, *mode);
        return 1;
    });
}
