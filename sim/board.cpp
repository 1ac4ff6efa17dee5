// The I/O board behind the data port: splitting the request stream into
// frames, dispatching them to the board's command tables (filled by one
// installer per feature, board_<feature>.cpp), and the board's state.
#include "board_ascii.hpp"
#include "board_loader.hpp"

#include <algorithm>

namespace wexosim::detail {

void install_ident_commands(Unit& unit);
void install_dio_commands(Unit& unit);
void install_autoswitch_commands(Unit& unit);
void install_analog_commands(Unit& unit);
void install_parameter_commands(Unit& unit);
void install_pulse_commands(Unit& unit);
void install_eeprom_commands(Unit& unit);

namespace {

// One installer per board feature (board_<feature>.cpp), each filling the
// tables through the helpers of board_ascii.hpp.
constexpr void (*kFeatures[])(Unit&) = {
    install_ident_commands,   install_dio_commands,   install_autoswitch_commands, install_analog_commands,
    install_parameter_commands, install_pulse_commands, install_eeprom_commands,
};

// The data port's request stream: binary frames have a length fixed by their
// first byte; upper-case letters start an ASCII frame that runs to 0xC8;
// "@WEX" starts the firmware loader, which then owns the stream until it is
// done; any other byte is a frame of its own that nobody answers.
class BoardProtocol : public Protocol {
public:
    explicit BoardProtocol(Unit& u) : u_(u), loader_(u) {}

    std::size_t frame_length(const Bytes& in) override {
        if (loader_.active()) return loader_.frame_length(in);
        auto bin = u_.binary.find(in[0]);
        if (bin != u_.binary.end()) return in.size() >= bin->second.length ? bin->second.length : 0;
        if (in[0] >= 'A' && in[0] <= 'Z') {
            auto end = std::find(in.begin() + 1, in.end(), kEnd);
            if (end != in.end()) return static_cast<std::size_t>(end - in.begin()) + 1;
            // A frame this long will never be answered: give it up as one frame.
            return in.size() >= kMaxAscii ? in.size() : 0;
        }
        if (in[0] == '@') return Loader::start_length(in);
        return 1;
    }

    std::optional<Bytes> answer(const Bytes& f) override {
        if (loader_.active() || f[0] == '@') return loader_.answer(f);
        if (is_ascii_request(f)) {
            auto it = u_.ascii.find(ascii_letters(f));
            return it == u_.ascii.end() ? std::nullopt : it->second(f);
        }
        auto bin = u_.binary.find(f[0]);
        if (bin != u_.binary.end() && f.size() == bin->second.length) return bin->second.handler(f);
        return std::nullopt;
    }

private:
    static constexpr std::size_t kMaxAscii = 4096;
    Unit& u_;
    Loader loader_;
};

std::uint32_t low_bits(int n) { return n >= 32 ? ~0u : (1u << n) - 1; }

}  // namespace

void install_board_commands(Unit& unit) {
    for (auto install : kFeatures) install(unit);
}

std::unique_ptr<Protocol> make_board_protocol(Unit& unit) { return std::make_unique<BoardProtocol>(unit); }

// ---------------------------------------------------------------- unit state

int Unit::n_outputs() const { return cfg.outputs >= 0 ? cfg.outputs : board_model(st.model).outputs; }
int Unit::n_inputs() const { return cfg.inputs >= 0 ? cfg.inputs : board_model(st.model).inputs; }

IdentForm Unit::ident_form() const {
    if (cfg.ident != IdentForm::Auto) return cfg.ident;
    if (st.model >= 7 && st.model <= 10) return IdentForm::BinaryExtended;
    if (st.model >= 16 && st.model <= 31) return IdentForm::MiExtended;
    if (st.model >= 32) return IdentForm::MiBasic;
    return IdentForm::BinaryPlain;
}

std::uint32_t Unit::outputs() const { return st.model == 1 ? st.pins & 0x07u : st.outputs; }

void Unit::set_outputs(std::uint32_t bits) {
    bits &= low_bits(n_outputs());
    if (st.model == 1)
        st.pins = static_cast<std::uint8_t>((st.pins & ~0x07u) | (bits & 0x07u));
    else
        st.outputs = bits;
}

std::uint32_t Unit::inputs() const {
    if (st.model != 2) return st.inputs;
    return (st.inputs & ~0x60u) | ((st.pins & 0x03u) << 5);
}

void Unit::set_inputs(std::uint32_t bits) {
    st.inputs = bits;
    if (st.model == 2) st.pins = static_cast<std::uint8_t>((st.pins & ~0x03u) | ((bits >> 5) & 0x03u));
}

std::uint32_t Unit::pulse_count(std::size_t channel) const {
    const PulseChannel& c = st.pulse.channels[channel];
    if (c.rate_hz <= 0) return c.count;
    const auto ms = std::chrono::duration_cast<Millis>(Clock::now() - pulse_since[channel]).count();
    return c.count + static_cast<std::uint32_t>(static_cast<long long>(c.rate_hz) * ms / 1000);
}

std::size_t Unit::pulse_channels() const {
    return static_cast<std::size_t>(std::clamp(n_inputs(), 0, kPulseChannels));
}

UnitState Unit::view() const {
    UnitState s = st;
    s.inputs = inputs();
    s.outputs = outputs();
    for (std::size_t i = 0; i < kPulseChannels; ++i) s.pulse.channels[i].count = pulse_count(i);
    s.analog.sampling_rate = st.eeprom[kSamplingRateByte];
    return s;
}

void Unit::apply(const UnitState& before, const UnitState& after) {
    const bool restarting = st.restarting;
    const int restarts = st.restarts;
    const std::uint32_t raw_inputs = st.inputs, raw_outputs = st.outputs;
    const auto raw_pulse = st.pulse.channels;
    st = after;
    st.restarting = restarting;
    st.restarts = restarts;
    st.board_id &= 0x0F;
    st.pins &= 0x07;
    st.inputs = raw_inputs;
    st.outputs = raw_outputs;
    // The shared pins: a changed input or output view wins over the pins.
    if (after.inputs != before.inputs) set_inputs(after.inputs);
    if (after.outputs != before.outputs) set_outputs(after.outputs);
    // A counter keeps running from where it was unless its count or rate changed.
    for (std::size_t i = 0; i < kPulseChannels; ++i) {
        const PulseChannel &b = before.pulse.channels[i], &a = after.pulse.channels[i];
        if (a.count == b.count && a.rate_hz == b.rate_hz) {
            st.pulse.channels[i].count = raw_pulse[i].count;
        } else {
            pulse_since[i] = Clock::now();
        }
    }
    if (after.analog.sampling_rate != before.analog.sampling_rate)
        st.eeprom[kSamplingRateByte] = static_cast<std::uint8_t>(after.analog.sampling_rate);
}

}  // namespace wexosim::detail
