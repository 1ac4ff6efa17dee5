// Pulse mode configuration (ZuWexoPulseModeSetConfig, ...SetConfig2,
// ...SetConfigChannel, ...GetConfig, ...GetConfig2, ...GetConfigChannel).
#include <array>

#include "core/call.hpp"
#include "pulse/pic_parameters.hpp"
#include "pulse/pulse.hpp"
#include "session/unit_context.hpp"

namespace wexo::pulse {

namespace {

constexpr uint8_t kReadConfig = 0xE6;
constexpr uint8_t kWriteConfig = 0xF6;
constexpr uint8_t kReadSettings = 0xE8;
constexpr uint8_t kWriteSettings = 0xF8;
constexpr uint8_t kReadChannel = 0xEB;
constexpr uint8_t kWriteChannel = 0xFB;

// ASCII channel codes: X written by PC, K read by PH.
constexpr uint8_t kChannelOff = 0x20;
constexpr uint8_t kChannelUp = 0x21;
constexpr uint8_t kChannelDown = 0x22;
constexpr int kCodeDown = 2;
constexpr int kCodeInvalid = 3;

// setting_a 0 to 3, setting_b 0 or 4 to 20: a negative one would be sent
// through the frames' masks as some other value.
bool settings_ok(int setting_a, int setting_b) {
    return offered(setting_a >= 0 && setting_a <= 3 && (setting_b == 0 || (setting_b >= 4 && setting_b <= 20)));
}

// PJ, then PL with the settings put into the status byte and T; the other
// status bits (pulse mode on among them) are carried over.
int write_status_settings(UnitContext& unit, int setting_a, int setting_b) {
    Status st;
    if (!status_query(unit, st)) return 0;
    const auto s = static_cast<uint8_t>((st.s & 0xF8) | ((setting_a & 3) * 2) | ((setting_b >> 4) & 1));
    const auto t = static_cast<uint8_t>((setting_b & 0x0F) | 0x20);
    return status_write(unit, s, t);
}

// Parameter read of a 3-byte parameter.
int read3(UnitContext& unit, std::initializer_list<uint8_t> request,
          std::array<uint8_t, 3>& reply) {
    return getPICparameter2_(unit, std::span<const uint8_t>(request.begin(), request.size()),
                             reply);
}

int write(UnitContext& unit, std::initializer_list<uint8_t> request) {
    return setPICparameter2_(unit, std::span<const uint8_t>(request.begin(), request.size()));
}

int set_config(UnitContext& unit, int channel, int updown, int setting_a, int setting_b) {
    if (!channel_below_inputs(unit, channel) || !settings_ok(setting_a, setting_b)) return 0;
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    if (*v != PulseVariant::kAscii) {
        const auto c = static_cast<uint8_t>((setting_a & 3) * 16 + (channel & 7) + 1 + (updown != 0 ? 8 : 0));
        if (!write(unit, {kWriteConfig, c, static_cast<uint8_t>(setting_b)})) return 0;
    } else {
        if (!write_status_settings(unit, setting_a, setting_b)) return 0;
        // Exactly the given channel counts afterwards, DOWN for any nonzero
        // updown as on the parameter frames and in the result line.
        for (int i = 0; i < pulse_channels(unit); ++i) {
            int ignored = 0;
            const uint8_t x = i != channel ? kChannelOff : (updown != 0 ? kChannelDown : kChannelUp);
            if (!channel_query(unit, i, ignored) || !channel_write(unit, i, x)) return 0;
        }
    }
    return result_line("ZuWexoPulseModeSetConfig:%d:%d:%s:%d:%d", unit.index, channel,
                       direction(updown), setting_a, setting_b);
}

int set_config2(UnitContext& unit, int setting_a, int setting_b) {
    if (!settings_ok(setting_a, setting_b)) return 0;
    const auto v = variant(unit, kFullOrAscii);
    if (!v) return 0;
    const bool done = *v == PulseVariant::kAscii
                          ? write_status_settings(unit, setting_a, setting_b)
                          : write(unit, {kWriteSettings, static_cast<uint8_t>(setting_a & 3),
                                          static_cast<uint8_t>(setting_b)});
    if (!done) return 0;
    return result_line("ZuWexoPulseModeSetConfig2:%d:%d:%d", unit.index, setting_a, setting_b);
}

int set_config_channel(UnitContext& unit, int channel, int enable, int updown) {
    if (!channel_below_inputs(unit, channel)) return 0;
    const auto v = variant(unit, kFullOrAscii);
    if (!v) return 0;
    bool done = false;
    if (*v == PulseVariant::kAscii) {
        // Any nonzero enable enables, as on the parameter frames and in the result line.
        const uint8_t x = enable != 0 ? static_cast<uint8_t>(kChannelUp + (updown != 0 ? 1 : 0)) : kChannelOff;
        done = channel_write(unit, channel, x);
    } else {
        const auto c = static_cast<uint8_t>((channel & 7) * 16 + (enable != 0 ? 8 : 0) + (updown != 0 ? 4 : 0));
        done = write(unit, {kWriteChannel, c});
    }
    if (!done) return 0;
    // "ENALBE" is how this one line has always spelled it.
    return result_line("ZuWexoPulseModeSetConfigChannel:%d:%d:%s:%s", unit.index, channel,
                       enable != 0 ? "ENALBE" : "DISABLE", direction(updown));
}

int get_config(UnitContext& unit, int* channel, int* updown, int* setting_a, int* setting_b) {
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    if (*v != PulseVariant::kAscii) {
        std::array<uint8_t, 3> reply{};
        if (!read3(unit, {kReadConfig}, reply)) return 0;
        *channel = (reply[1] & 7) - 1;  // 0: no channel, read as -1
        *updown = (reply[1] >> 3) & 1;
        *setting_a = (reply[1] >> 4) & 3;
        *setting_b = reply[2];
    } else {
        Status st;
        if (!status_query(unit, st)) return 0;
        *setting_a = setting_a_of(st);
        *setting_b = setting_b_of(st);
        int found = 0;
        int code = 0;
        for (int i = 0; i < pulse_channels(unit) && code == 0; ++i) {
            if (!channel_query(unit, i, code)) return 0;
            found = i;
        }
        *channel = code != 0 ? found : 0;
        *updown = code == kCodeDown ? 1 : 0;
    }
    return result_line("ZuWexoPulseModeGetConfig:%d:%d:%s:%d:%d", unit.index, *channel,
                       direction(*updown), *setting_a, *setting_b);
}

int get_config2(UnitContext& unit, int* setting_a, int* setting_b) {
    const auto v = variant(unit, kFullOrAscii);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        Status st;
        if (!status_query(unit, st)) return 0;
        *setting_a = setting_a_of(st);
        *setting_b = setting_b_of(st);
    } else {
        std::array<uint8_t, 3> reply{};
        if (!read3(unit, {kReadSettings}, reply)) return 0;
        *setting_a = reply[1] & 3;
        *setting_b = reply[2];
    }
    return result_line("ZuWexoPulseModeGetConfig2:%d:%d:%d", unit.index, *setting_a, *setting_b);
}

int get_config_channel(UnitContext& unit, int channel, int* enable, int* updown) {
    if (!channel_below_inputs(unit, channel)) return 0;
    const auto v = variant(unit, kFullOrAscii);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        *enable = 0;
        *updown = 0;
        int code = 0;
        if (!channel_query(unit, channel, code)) return 0;
        if (code == kCodeInvalid) {
            set_error(kBadReply);
            return 0;
        }
        *enable = code != 0 ? 1 : 0;
        *updown = code == kCodeDown ? 1 : 0;
    } else {
        std::array<uint8_t, 3> reply{};
        if (!read3(unit, {kReadChannel, static_cast<uint8_t>(channel & 7)}, reply)) return 0;
        *enable = (reply[2] >> 3) & 1;
        *updown = (reply[2] >> 2) & 1;
    }
    return result_line("ZuWexoPulseModeGetConfigChannel:%d:%d:%s:%s", unit.index, channel,
                       *enable != 0 ? "ENABLE" : "DISABLE", direction(*updown));
}

}  // namespace

}  // namespace wexo::pulse

using namespace wexo;

extern "C" int ZuWexoPulseModeSetConfig(int index, int channel, int updown, int setting_a,
                                        int setting_b) {
    return on_unit("ZuWexoPulseModeSetConfig", index, [&](UnitContext& unit) {
        return pulse::set_config(unit, channel, updown, setting_a, setting_b);
    });
}

extern "C" int ZuWexoPulseModeSetConfig2(int index, int setting_a, int setting_b) {
    return on_unit("ZuWexoPulseModeSetConfig2", index, [&](UnitContext& unit) {
        return pulse::set_config2(unit, setting_a, setting_b);
    });
}

extern "C" int ZuWexoPulseModeSetConfigChannel(int index, int channel, int enable, int updown) {
    return on_unit("ZuWexoPulseModeSetConfigChannel", index, [&](UnitContext& unit) {
        return pulse::set_config_channel(unit, channel, enable, updown);
    });
}

extern "C" int ZuWexoPulseModeGetConfig(int index, int* channel, int* updown, int* setting_a,
                                        int* setting_b) {
    return on_unit("ZuWexoPulseModeGetConfig", index, [&](UnitContext& unit) {
        return outputs_given(channel, updown, setting_a, setting_b)
                   ? pulse::get_config(unit, channel, updown, setting_a, setting_b)
                   : 0;
    });
}

extern "C" int ZuWexoPulseModeGetConfig2(int index, int* setting_a, int* setting_b) {
    return on_unit("ZuWexoPulseModeGetConfig2", index, [&](UnitContext& unit) {
        return outputs_given(setting_a, setting_b) ? pulse::get_config2(unit, setting_a, setting_b)
                                                   : 0;
    });
}

extern "C" int ZuWexoPulseModeGetConfigChannel(int index, int channel, int* enable, int* updown) {
    return on_unit("ZuWexoPulseModeGetConfigChannel", index, [&](UnitContext& unit) {
        return outputs_given(enable, updown)
                   ? pulse::get_config_channel(unit, channel, enable, updown)
                   : 0;
    });
}
