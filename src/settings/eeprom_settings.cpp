// Unit settings kept in the board's parameter memory or its EEPROM, and raw
// EEPROM access (ZuWexoReadEEPROM, ZuWexoWriteEEPROM, ZuWexoGet/Set of the
// disconnection, notice, resend wait and detect times and the mail masks,
// ZuWexoGetAnalogInputADCsps).
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "wire/exchange.hpp"
#include "pulse/pic_parameters.hpp"
#include "session/unit_context.hpp"

namespace wexo::settings {

namespace {

constexpr Command kMR{.name = "get_EEPROM_MR", .drain = Drain::kYes, .reply = ReplyShape::ascii()};
// A write is answered "mw" "OK": anything longer than five bytes is refused.
constexpr Command kMW{.name = "set_EEPROM_MW", .drain = Drain::kYes, .reply = ReplyShape::ascii(3, 0, 5)};
constexpr uint8_t kReadSetting = 0x90;
constexpr int kSamplingRateByte = 73;
constexpr long long kEepromSize = 4096;

// How a setting sits in its byte.
enum class Packing {
    kLowNibble,   // disconnection time: the byte's low nibble
    kHighNibble,  // notice time: the high nibble, written with the low nibble 15
    kByte,        // a whole byte
    kMask,        // a mail mask: layout 1 packs it by the number of inputs
};

// One setting: its names, where it lives by variant, and what a write accepts.
struct Setting {
    const char* getter;
    const char* setter;
    ModelColumn column;
    uint8_t selector;    // parameter memory: read selector with 0x90
    uint8_t write_code;  // parameter memory: write code
    int layout1;         // EEPROM byte in layout 1, -1: not there
    int layout2;         // EEPROM byte in layout 2, -1: not there
    int high_byte;       // layout 1, more than 8 inputs: byte of mask bits 16-23
    Packing packing;
    int lowest, highest; // accepted on write (masks: their low byte)
};

constexpr Setting kDisconnectionTime{"ZuWexoGetDisconnectionTime", "ZuWexoSetDisconnectionTime",
                                     kColDisconnectTime, 0, 0x91, 64, -1, -1, Packing::kLowNibble, 0, 15};
constexpr Setting kNoticeTime{"ZuWexoGetNoticeTime", "ZuWexoSetNoticeTime",
                              kColNoticeTime, 0, 0x91, 64, 64, -1, Packing::kHighNibble, 0, 4};
constexpr Setting kResendWaitTime{"ZuWexoGetResendWaitTime", "ZuWexoSetResendWaitTime",
                                  kColResendWait, 1, 0x92, 67, -1, -1, Packing::kByte, 1, 15};
constexpr Setting kDiDetectTime{"ZuWexoGetDiDetectTime", "ZuWexoSetDiDetectTime",
                                kColDetectTime, 2, 0x93, 68, 66, -1, Packing::kByte, 4, 20};
constexpr Setting kDiMailLogic{"ZuWexoGetDiMailLogic", "ZuWexoSetDiMailLogic",
                               kColMailLogic, 3, 0x94, 87, 67, 85, Packing::kMask, 0, 31};
constexpr Setting kDiMailEnable{"ZuWexoGetDiMailEnable", "ZuWexoSetDiMailEnable",
                                kColMailLogic, 4, 0x95, 88, 68, 86, Packing::kMask, 0, 31};

// Where the setting lives on this unit: the parameter memory (address -1)
// or an EEPROM byte; nullopt with code 6 where the model has no such setting.
struct Place {
    bool parameters = false;
    int address = -1;
    int inputs = 0;
};
std::optional<Place> place_of(UnitContext& unit, const Setting& setting) {
    const auto board = unit.board();
    if (!board) return std::nullopt;
    Place place;
    place.inputs = board->inputs();
    switch (board->setting(setting.column)) {
        case SettingsVariant::kPicParameter: place.parameters = true; return place;
        case SettingsVariant::kEepromLayout1: place.address = setting.layout1; break;
        case SettingsVariant::kEepromLayout2: place.address = setting.layout2; break;
        case SettingsVariant::kUnavailable: break;
    }
    if (!offered(place.address >= 0)) return std::nullopt;
    return place;
}

bool layout1_mask(const Setting& setting, const Place& place) {
    return setting.packing == Packing::kMask && place.address == setting.layout1;
}

}  // namespace

int get_EEPROM_MR(UnitContext& unit, int address, uint8_t* buffer, int count) {
    const Frame request = Frame::ascii('M', 'R')
                              .push_hex(static_cast<uint32_t>(address), 3)
                              .push_hex(static_cast<uint32_t>(count), 1)
                              .terminate();
    const int bytes = count & 0x0F;
    Reply reply;
    // The data must be there: two digits per byte after six bytes of header.
    if (!exchange(unit.link, kMR.at_least(7 + 2 * bytes), request, reply)) return 0;
    // Every byte's digits are judged before any is stored.
    std::array<uint8_t, 15> read{};
    for (int i = 0; i < bytes && i < count; ++i) {
        const auto digits = reply.hex(6 + 2 * i, 2);
        if (!hex_fields_read(digits)) return 0;
        read[static_cast<std::size_t>(i)] = static_cast<uint8_t>(*digits);
    }
    std::copy_n(read.begin(), std::clamp(std::min(bytes, count), 0, bytes), buffer);
    return 1;
}

int set_EEPROM_MW(UnitContext& unit, int address, const uint8_t* data, int count) {
    Frame request = Frame::ascii('M', 'W');
    request.push_hex(static_cast<uint32_t>(address), 3).push_hex(static_cast<uint32_t>(count), 1);
    for (int i = 0; i < (count & 0x0F); ++i) request.push_hex(data[i], 2);
    request.terminate();
    Reply reply;
    if (!exchange(unit.link, kMW, request, reply)) return 0;
    if (reply.byte(2) == 'O' && reply.byte(3) == 'K') return 1;
    set_error(kBadReply);
    // Only the bytes that came between the letters and the terminator.
    std::string said;
    for (int at = 2; at < 4 && at < reply.size() - 1; ++at) said += static_cast<char>(reply.byte(at));
    output_log(kLogError, "set_EEPROM_MW error. [%s]", said.c_str());
    return 0;
}

namespace {

int read_byte(UnitContext& unit, int address, uint32_t& value) {
    uint8_t byte = 0;
    if (!get_EEPROM_MR(unit, address, &byte, 1)) return 0;
    value = byte;
    return 1;
}

int write_byte(UnitContext& unit, int address, uint32_t value) {
    const auto byte = static_cast<uint8_t>(value);
    return set_EEPROM_MW(unit, address, &byte, 1);
}

int get_setting(UnitContext& unit, const Setting& setting, uint32_t& value) {
    const auto place = place_of(unit, setting);
    if (!place) return 0;
    uint32_t byte = 0;
    const bool read = place->parameters
                          ? getPICparameter_(unit, kReadSetting, setting.selector, byte)
                          : read_byte(unit, place->address, byte);
    if (!read) return 0;
    switch (setting.packing) {
        case Packing::kLowNibble: value = byte & 0x0F; break;
        case Packing::kHighNibble: value = byte >> 4; break;
        case Packing::kByte: value = byte; break;
        case Packing::kMask:
            value = byte;
            if (layout1_mask(setting, *place)) {
                if (place->inputs > 8) {
                    uint32_t high = 0;
                    if (!read_byte(unit, setting.high_byte, high)) return 0;
                    value += high << 16;
                } else if (place->inputs <= 4) {
                    value = byte >> 4;
                }
            }
            break;
    }
    return 1;
}

// Whether every bit of a mask reaches the unit: the bytes written carry bits
// 0 to 4, a layout-1 board with four inputs or fewer only bits 0 to 3 (a
// nibble), and one with more than eight inputs bits 16 to 23 as well. Any
// other bit would be dropped on the way.
bool mask_fits(const Setting& setting, const Place& place, int value) {
    uint32_t carried = 0x1F;
    if (layout1_mask(setting, place)) {
        if (place.inputs <= 4) carried = 0x0F;
        if (place.inputs > 8) carried |= 0xFF0000;
    }
    return (static_cast<uint32_t>(value) & ~carried) == 0;
}

int set_setting(UnitContext& unit, const Setting& setting, int value) {
    // Masks are judged by their low byte; a negative time is refused too.
    const int judged = setting.packing == Packing::kMask ? (value & 0xFF) : value;
    if (!in_range(judged, setting.lowest, setting.highest)) return 0;
    const auto place = place_of(unit, setting);
    if (!place || !offered(setting.packing != Packing::kMask || mask_fits(setting, *place, value))) {
        return 0;
    }
    const auto v = static_cast<uint32_t>(value);
    const uint32_t byte = setting.packing == Packing::kHighNibble ? (v & 0x0F) * 16 + 15 : v;
    if (place->parameters) {
        return setPICparameter_(unit, setting.write_code, static_cast<int>(byte));
    }
    if (!layout1_mask(setting, *place)) return write_byte(unit, place->address, byte);
    const uint32_t first = place->inputs >= 5 ? (v & 0xFF) : (v & 0x0F) * 16;
    if (!write_byte(unit, place->address, first)) return 0;
    return place->inputs > 8 ? write_byte(unit, setting.high_byte, v >> 16) : 1;
}

// The exported getter and setter of one setting.
int getter(int index, const Setting& setting, unsigned int* out) {
    return on_unit(setting.getter, index, [&](UnitContext& unit) {
        uint32_t value = 0;
        if (!outputs_given(out) || !get_setting(unit, setting, value)) return 0;
        *out = value;
        return result_line("%s:%d:%d", setting.getter, unit.index, static_cast<int>(value));
    });
}

int setter(int index, const Setting& setting, int value) {
    return on_unit(setting.setter, index, [&](UnitContext& unit) {
        if (!set_setting(unit, setting, value)) return 0;
        return result_line("%s:%d:%d", setting.setter, unit.index, value);
    });
}

// Raw EEPROM calls need the unit's open channel like every other call.
bool raw_call_allowed(int index, const void* bytes, int count) {
    if (!check_common(index, 0)) return false;
    if (!record(index).connected) {
        set_error(kNotConnected);
        return false;
    }
    return count <= 0 || outputs_given(bytes);
}

// The bytes from address on, count of them, all within the EEPROM: the
// address field has three digits, and an address beyond them would wrap to
// another byte. Computed wide, so no sum overflows.
bool inside_eeprom(int address, int count) {
    return in_range(static_cast<long long>(address), 0, kEepromSize) &&
           in_range(static_cast<long long>(address) + std::max(count, 0), 0, kEepromSize);
}

}  // namespace

}  // namespace wexo::settings

using namespace wexo;
using namespace wexo::settings;

extern "C" int ZuWexoReadEEPROM(int index, int address, int count, unsigned char* buffer) {
    return api_call("ZuWexoReadEEPROM", 0, [&] {
        if (!raw_call_allowed(index, buffer, count) || !inside_eeprom(address, count)) return 0;
        UnitContext unit = UnitContext::of(index);
        for (int i = 0; i < count; ++i) {
            if (!get_EEPROM_MR(unit, address + i, buffer + i, 1)) return 0;
        }
        return 1;
    });
}

extern "C" int ZuWexoWriteEEPROM(int index, int address, int count, const unsigned char* data) {
    return api_call("ZuWexoWriteEEPROM", 0, [&] {
        if (!raw_call_allowed(index, data, count) || !inside_eeprom(address, count)) return 0;
        UnitContext unit = UnitContext::of(index);
        for (int i = 0; i < count; ++i) {
            if (!set_EEPROM_MW(unit, address + i, data + i, 1)) return 0;
        }
        return 1;
    });
}

extern "C" int ZuWexoGetDisconnectionTime(int index, unsigned int* value) { return getter(index, kDisconnectionTime, value); }
extern "C" int ZuWexoSetDisconnectionTime(int index, int value) { return setter(index, kDisconnectionTime, value); }
extern "C" int ZuWexoGetNoticeTime(int index, unsigned int* value) { return getter(index, kNoticeTime, value); }
extern "C" int ZuWexoSetNoticeTime(int index, int value) { return setter(index, kNoticeTime, value); }
extern "C" int ZuWexoGetResendWaitTime(int index, unsigned int* value) { return getter(index, kResendWaitTime, value); }
extern "C" int ZuWexoSetResendWaitTime(int index, int value) { return setter(index, kResendWaitTime, value); }
extern "C" int ZuWexoGetDiDetectTime(int index, unsigned int* value) { return getter(index, kDiDetectTime, value); }
extern "C" int ZuWexoSetDiDetectTime(int index, int value) { return setter(index, kDiDetectTime, value); }
extern "C" int ZuWexoGetDiMailLogic(int index, unsigned int* mask) { return getter(index, kDiMailLogic, mask); }
extern "C" int ZuWexoSetDiMailLogic(int index, int mask) { return setter(index, kDiMailLogic, mask); }
extern "C" int ZuWexoGetDiMailEnable(int index, unsigned int* mask) { return getter(index, kDiMailEnable, mask); }
extern "C" int ZuWexoSetDiMailEnable(int index, int mask) { return setter(index, kDiMailEnable, mask); }

extern "C" int ZuWexoGetAnalogInputADCsps(int index, int* code) {
    return on_unit("ZuWexoGetAnalogInputADCsps", index, [&](UnitContext& unit) {
        const auto board = unit.board();
        if (!board || !outputs_given(code) || !offered(board->analog_inputs() > 0)) return 0;
        uint8_t byte = 0;
        if (!get_EEPROM_MR(unit, kSamplingRateByte, &byte, 1)) return 0;
        *code = byte;
        return result_line("current sps : %d", *code);
    });
}
