// The Simulator's public members: each takes the loop's lock and works on
// one unit; sockets and timing are the event loop's business.
#include "internal.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <stdexcept>

namespace wexosim {

using namespace detail;

struct Simulator::Impl {
    EventLoop loop;
};

// The state a unit starts with, from its start configuration.
UnitState detail::initial_state(const UnitConfig& c) {
    UnitState s;
    s.model = c.model;
    s.board_id = c.board_id & 0x0F;
    s.answer_ident = c.answer_ident;
    s.ip = c.ip;
    s.data_port = c.data_port;
    s.serial = c.serial;
    s.serial2 = c.serial2.value_or(c.serial);
    // Model 1 drives its outputs through the pins, so they default to outputs.
    s.cp_modes = c.cp_modes.value_or(c.model == 1 ? std::array<std::uint8_t, 3>{5, 7, 9}
                                                  : std::array<std::uint8_t, 3>{0, 2, 1});
    s.cp_flag = c.cp_flag;
    s.ignore_discovery = c.ignore_discovery;
    s.answer_query = c.answer_query;
    s.answer_probe = c.answer_probe;
    s.answer_setup_query = c.answer_setup_query;
    s.answer_ident_text = c.answer_ident_text;
    s.answer_cp_query = c.answer_cp_query;
    std::copy_n(c.eeprom.begin(), std::min(c.eeprom.size(), s.eeprom.size()), s.eeprom.begin());
    return s;
}

std::uint32_t with_bit(std::uint32_t bits, int channel, bool on) {
    if (channel < 0 || channel > 31) throw std::out_of_range("wexosim: input channel");
    std::uint32_t bit = 1u << channel;
    return on ? (bits | bit) : (bits & ~bit);
}

// ---------------------------------------------------------------- lifecycle

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {}

Simulator::Simulator(std::vector<UnitConfig> units) : Simulator() {
    for (auto& u : units) add_unit(std::move(u));
    start();
}

Simulator::~Simulator() { stop(); }

int Simulator::add_unit(UnitConfig config) {
    EventLoop& loop = impl_->loop;
    std::lock_guard lk(loop.mutex());
    auto u = std::make_unique<Unit>();
    u->number = static_cast<int>(loop.units().size());
    in_addr a{};
    if (::inet_pton(AF_INET, config.ip.c_str(), &a) != 1)
        throw std::invalid_argument("wexosim: bad unit address " + config.ip);
    u->cfg = std::move(config);
    u->st = initial_state(u->cfg);
    u->st.pins = u->cfg.initial_pins & 0x07;
    u->set_inputs(u->cfg.initial_inputs);
    u->set_outputs(u->cfg.initial_outputs);
    // Distinct per unit by default: the last two octets of its first address.
    const auto* ip = reinterpret_cast<const std::uint8_t*>(&a.s_addr);
    u->mac = u->cfg.mac.value_or(std::array<std::uint8_t, 6>{0x02, 0x57, 0x58, 0x00, ip[2], ip[3]});
    install_board_commands(*u);
    install_module_commands(*u);
    Unit& ref = *u;
    loop.units().push_back(std::move(u));
    if (loop.running()) {
        try {
            loop.open_unit(ref);
        } catch (...) {
            loop.units().pop_back();
            throw;
        }
    }
    return ref.number;
}

void Simulator::start() {
    std::lock_guard lk(impl_->loop.mutex());
    impl_->loop.start();
}

void Simulator::stop() { impl_->loop.stop(); }

bool Simulator::running() const {
    std::lock_guard lk(impl_->loop.mutex());
    return impl_->loop.running();
}

// ---------------------------------------------------------------- queries and state

#define WEXOSIM_LOCKED_UNIT(n)                   \
    std::lock_guard lk_(impl_->loop.mutex()); \
    Unit& u = impl_->loop.unit(n)

int Simulator::unit_count() const {
    std::lock_guard lk(impl_->loop.mutex());
    return static_cast<int>(impl_->loop.units().size());
}

UnitConfig Simulator::config(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.cfg;
}

std::string Simulator::ip(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.st.ip;
}

std::uint16_t Simulator::port(int unit, Endpoint ep) const {
    WEXOSIM_LOCKED_UNIT(unit);
    if (ep == Endpoint::Udp) return u.udp_port;
    const Listener& l = u.eps[idx(ep)].listener;
    return l.served ? l.port : 0;
}

UnitState Simulator::state(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.view();
}

void Simulator::update(int unit, const std::function<void(UnitState&)>& change) {
    WEXOSIM_LOCKED_UNIT(unit);
    const UnitState before = u.view();
    UnitState after = before;
    change(after);
    u.apply(before, after);
    impl_->loop.notify();
}

bool Simulator::wait_state(int unit, const std::function<bool(const UnitState&)>& done, Millis timeout) const {
    std::unique_lock lk(impl_->loop.mutex());
    Unit& u = impl_->loop.unit(unit);
    return impl_->loop.wait(lk, timeout, [&] { return done(u.view()); });
}

void Simulator::restart_module(int unit, Millis down_time) {
    WEXOSIM_LOCKED_UNIT(unit);
    impl_->loop.restart(u, down_time);
}

// ---------------------------------------------------------------- faults and connections

void Simulator::inject(int unit, Endpoint ep, Fault fault) {
    WEXOSIM_LOCKED_UNIT(unit);
    if (!fault.source_ip.empty()) {
        in_addr a{};
        if (ep != Endpoint::Udp) throw std::invalid_argument("wexosim: a foreign source needs the udp endpoint");
        if (::inet_pton(AF_INET, fault.source_ip.c_str(), &a) != 1)
            throw std::invalid_argument("wexosim: bad source address " + fault.source_ip);
    }
    if (fault.count == 0) return;
    u.eps[idx(ep)].faults.push_back(std::move(fault));
}

void Simulator::clear_faults(int unit, Endpoint ep) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.eps[idx(ep)].faults.clear();
}

void Simulator::clear_faults(int unit) {
    WEXOSIM_LOCKED_UNIT(unit);
    for (auto& e : u.eps) e.faults.clear();
}

std::size_t Simulator::pending_faults(int unit, Endpoint ep) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.eps[idx(ep)].faults.size();
}

void Simulator::set_connect_mode(int unit, Endpoint ep, ConnectMode mode) {
    WEXOSIM_LOCKED_UNIT(unit);
    impl_->loop.set_connect_mode(u, ep, mode);
}

void Simulator::close_connections(int unit, Endpoint ep) {
    WEXOSIM_LOCKED_UNIT(unit);
    impl_->loop.close_connections(u, ep);
}

void Simulator::send_unsolicited(int unit, Endpoint ep, Bytes bytes) {
    WEXOSIM_LOCKED_UNIT(unit);
    impl_->loop.send_unsolicited(u, ep, bytes);
}

void Simulator::set_ascii_command(int unit, const std::string& letters, Handler handler) {
    WEXOSIM_LOCKED_UNIT(unit);
    if (letters.size() != 2 || letters[0] < 'A' || letters[0] > 'Z')
        throw std::invalid_argument("wexosim: command letters: " + letters);
    if (handler)
        u.ascii[letters] = std::move(handler);
    else
        u.ascii.erase(letters);
}

void Simulator::set_binary_command(int unit, std::uint8_t first, std::size_t length, Handler handler) {
    WEXOSIM_LOCKED_UNIT(unit);
    if (length == 0) throw std::invalid_argument("wexosim: binary command of length 0");
    if (handler)
        u.binary[first] = {length, std::move(handler)};
    else
        u.binary.erase(first);
}

// ---------------------------------------------------------------- observation

std::vector<Bytes> Simulator::frames(int unit, Endpoint ep) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.eps[idx(ep)].log;
}

bool Simulator::wait_frames(int unit, Endpoint ep, std::size_t n, Millis timeout) const {
    std::unique_lock lk(impl_->loop.mutex());
    Unit& u = impl_->loop.unit(unit);
    return impl_->loop.wait(lk, timeout, [&] { return u.eps[idx(ep)].log.size() >= n; });
}

void Simulator::clear_log(int unit) {
    WEXOSIM_LOCKED_UNIT(unit);
    for (auto& e : u.eps) e.log.clear();
}

void Simulator::clear_log(int unit, Endpoint ep) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.eps[idx(ep)].log.clear();
}

int Simulator::accepted(int unit, Endpoint ep) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.eps[idx(ep)].accepted;
}

int Simulator::open_connections(int unit, Endpoint ep) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return impl_->loop.open_connections(u, ep);
}

bool Simulator::wait_accepted(int unit, Endpoint ep, int n, Millis timeout) const {
    std::unique_lock lk(impl_->loop.mutex());
    Unit& u = impl_->loop.unit(unit);
    return impl_->loop.wait(lk, timeout, [&] { return u.eps[idx(ep)].accepted >= n; });
}

}  // namespace wexosim
