// The network module's TCP endpoints besides the data port: configurable
// pins, the pin mode write and the setup menu.
#include "internal.hpp"

#include <algorithm>
#include <cstring>

namespace wexosim::detail {

namespace {

constexpr std::size_t kBlockLen = 130;

// Configurable pins. The request's first byte fixes the form: 0x03 / 0x02 s
// (short, 4-byte replies) or 0x13 / 0x1B with 8 more bytes (long, 5 bytes).
// Modules before firmware 1.5 greet every connection first.
class PinsProtocol : public Protocol {
public:
    explicit PinsProtocol(Unit& u) : u_(u) {}
    Bytes greeting() override { return u_.short_pin_form() ? u_.cfg.pins_greeting : Bytes{}; }
    std::size_t frame_length(const Bytes& in) override {
        std::size_t need = in[0] == 0x02 ? 2 : (in[0] == 0x13 || in[0] == 0x1B) ? 9 : 1;
        return in.size() >= need ? need : 0;
    }
    std::optional<Bytes> answer(const Bytes& f) override {
        std::uint8_t& pins = u_.st.pins;
        switch (f[0]) {
        case 0x03: return Bytes{0x03, pins, 0, 0};
        case 0x02:
            pins = f[1] & 0x07;
            return Bytes{0x02, pins, 0, 0};
        case 0x13: return Bytes{0x13, pins, 0, 0, 0};
        case 0x1B: {
            std::uint8_t mask = f[1], value = f[5];  // low bytes of the two LE32 fields
            pins = static_cast<std::uint8_t>(((pins & ~mask) | (value & mask)) & 0x07);
            return Bytes{0x1B, pins, 0, 0, 0};
        }
        default: return std::nullopt;
        }
    }

private:
    Unit& u_;
};

// Pin mode write on TCP 30718: one 130-byte block with byte 3 = C7, answered
// with 4 bytes; then the module restarts.
class PinModeProtocol : public Protocol {
public:
    explicit PinModeProtocol(Unit& u) : u_(u) {}
    std::size_t frame_length(const Bytes& in) override { return in.size() >= kBlockLen ? kBlockLen : 0; }
    std::optional<Bytes> answer(const Bytes& f) override {
        if (f[3] != 0xC7) return std::nullopt;
        u_.st.cp_modes = {f[4], f[5], f[6]};
        u_.st.cp_flag = f[129];
        u_.restart_requested = true;
        return Bytes{0x00, 0x00, 0x00, 0xC8};
    }

private:
    Unit& u_;
};

// Setup menu on TCP 9999, enough of it to walk to "factory defaults, save".
// 7 marks the factory settings for saving; 9 saves (the module restarts, as
// after any configuration write); 8 leaves without saving.
class SetupProtocol : public Protocol {
public:
    explicit SetupProtocol(Unit& u) : u_(u) {}
    Bytes greeting() override { return text("*** WEXO network module ***\r\nPress Enter to go into Setup Mode\r\n"); }
    std::size_t frame_length(const Bytes& in) override {
        auto nl = std::find(in.begin(), in.end(), '\n');
        return nl == in.end() ? 0 : static_cast<std::size_t>(nl - in.begin()) + 1;
    }
    std::optional<Bytes> answer(const Bytes& f) override {
        std::uint8_t key = f.empty() ? 0 : f[0];
        if (!in_menu_) {
            in_menu_ = true;
            return menu();
        }
        switch (key) {
        case '7': defaults_ = true; break;
        case '8':
            defaults_ = false;
            return text("Exit without save\r\n");
        case '9':
            if (defaults_) reset_to_factory();
            defaults_ = false;
            u_.restart_requested = true;
            return text("Parameters stored ...\r\n");
        default: break;
        }
        return menu();
    }

private:
    // The module's own settings go back to the unit's start values; the
    // address, the board and the EEPROM stay.
    void reset_to_factory() {
        const UnitState factory = initial_state(u_.cfg);
        u_.st.serial = factory.serial;
        u_.st.serial2 = factory.serial2;
        u_.st.cp_modes = factory.cp_modes;
        u_.st.cp_flag = factory.cp_flag;
        u_.st.performance = factory.performance;
        // An ephemeral data port keeps the one it is bound to.
        if (factory.data_port != 0) u_.st.data_port = factory.data_port;
    }
    static Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }
    static Bytes menu() {
        return text("Change Setup:\r\n  0 Server\r\n  1 Channel 1\r\n  7 Defaults\r\n"
                    "  8 Exit without save\r\n  9 Save and exit\r\nYour choice ? ");
    }
    Unit& u_;
    bool in_menu_ = false;
    bool defaults_ = false;
};

}  // namespace

std::unique_ptr<Protocol> make_protocol(Unit& unit, Endpoint ep) {
    switch (ep) {
    case Endpoint::Data: return make_board_protocol(unit);
    case Endpoint::Udp: return make_udp_protocol(unit);
    case Endpoint::Pins: return std::make_unique<PinsProtocol>(unit);
    case Endpoint::PinMode: return std::make_unique<PinModeProtocol>(unit);
    case Endpoint::Setup: return std::make_unique<SetupProtocol>(unit);
    }
    return nullptr;
}

}  // namespace wexosim::detail
