// The simulator's sockets, its poll loop and the public API.
#include "internal.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace wexosim {

using namespace detail;

namespace {

struct Conn {
    Unit* unit = nullptr;
    Endpoint ep = Endpoint::Data;
    Fd fd;
    Bytes in;
    std::deque<Chunk> out;
    std::unique_ptr<Protocol> proto;
    bool dead = false;
};

// Receives broadcasts for every unit whose module listens on `port`.
struct SharedUdp {
    Fd fd;
    std::uint16_t port = 0;
};

std::string where(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

[[noreturn]] void fail(const std::string& what, const sockaddr_in& a) {
    throw std::runtime_error("wexosim: " + what + " " + where(a) + ": " + std::strerror(errno));
}

sockaddr_in make_addr(in_addr_t ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ip;
    a.sin_port = htons(port);
    return a;
}

Fd bound_socket(int type, const sockaddr_in& a) {
    Fd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) fail("socket", a);
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (type == SOCK_DGRAM) ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) fail("bind", a);
    return fd;
}

std::uint16_t local_port(const Fd& fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

bool starts_with(const Bytes& frame, const Bytes& prefix) {
    return frame.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), frame.begin());
}

}  // namespace

struct Simulator::Impl {
    mutable std::mutex m;
    mutable std::condition_variable cv;
    std::vector<std::unique_ptr<Unit>> units;
    std::list<std::unique_ptr<Conn>> conns;
    std::vector<SharedUdp> shared;
    Fd wake;
    std::thread thread;
    bool running = false;
    bool stopping = false;
    // Bumped whenever a descriptor is opened or closed outside the loop, so
    // that the loop drops poll results that may name stale descriptors.
    std::uint64_t generation = 0;

    Unit& unit(int n) const {
        if (n < 0 || n >= static_cast<int>(units.size()))
            throw std::out_of_range("wexosim: no unit " + std::to_string(n));
        return *units[static_cast<std::size_t>(n)];
    }

    void poke() {
        ++generation;
        std::uint64_t one = 1;
        if (wake) [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
    }

    // ---------------------------------------------------------------- listeners

    std::uint16_t configured_port(const Unit& u, Endpoint ep) const {
        switch (ep) {
        case Endpoint::Data: return u.cfg.data_port;
        case Endpoint::Pins: return u.cfg.pins_port;
        case Endpoint::PinMode: return u.cfg.pinmode_port;
        case Endpoint::Setup: return u.cfg.setup_port;
        case Endpoint::Udp: return u.cfg.udp_port;
        }
        return 0;
    }

    void apply_mode(Unit& u, Endpoint ep, ConnectMode mode) {
        Listener& l = u.eps[idx(ep)].listener;
        l.filler.reset();
        // The poll thread may still hold the old listener inside poll(), which
        // keeps it listening after close(); shutdown stops it at once, so the
        // port can be bound again and queued connects are reset.
        if (l.fd) ::shutdown(l.fd.get(), SHUT_RDWR);
        l.fd.reset();
        l.mode = mode;
        if (mode != ConnectMode::Refuse) {
            sockaddr_in a = make_addr(u.addr.sin_addr.s_addr, l.port ? l.port : configured_port(u, ep));
            l.fd = bound_socket(SOCK_STREAM, a);
            // Stall: an accept queue of one, filled by our own connection and
            // never accepted, makes the kernel drop further handshakes.
            if (::listen(l.fd.get(), mode == ConnectMode::Stall ? 0 : 64) != 0) fail("listen", a);
            l.port = local_port(l.fd);
            if (mode == ConnectMode::Stall) {
                a.sin_port = htons(l.port);
                l.filler = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
                if (!l.filler || ::connect(l.filler.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
                    fail("connect (stall filler)", a);
            }
        }
        poke();
    }

    void open_unit(Unit& u) {
        auto serve = [&](Endpoint ep, bool on) {
            if (!on) return;
            u.eps[idx(ep)].listener.served = true;
            apply_mode(u, ep, u.eps[idx(ep)].listener.mode);
        };
        serve(Endpoint::Data, true);
        serve(Endpoint::Pins, u.cfg.module);
        serve(Endpoint::PinMode, u.cfg.module && u.cfg.pinmode_listener);
        serve(Endpoint::Setup, u.cfg.module && u.cfg.setup_listener);
        if (!u.cfg.module) return;
        u.udp_fd = bound_socket(SOCK_DGRAM, make_addr(u.addr.sin_addr.s_addr, u.udp_port ? u.udp_port : u.cfg.udp_port));
        u.udp_port = local_port(u.udp_fd);
        u.udp_proto = make_protocol(u, Endpoint::Udp);
        // Broadcasts reach only a socket bound to the wildcard address; the
        // unit's own socket gets its unicast queries and sends every reply.
        if (u.cfg.udp_port != 0 &&
            std::none_of(shared.begin(), shared.end(), [&](const SharedUdp& s) { return s.port == u.cfg.udp_port; }))
            shared.push_back({bound_socket(SOCK_DGRAM, make_addr(htonl(INADDR_ANY), u.cfg.udp_port)), u.cfg.udp_port});
        poke();
    }

    // ---------------------------------------------------------------- requests and replies

    Fault take_fault(EndpointData& e, const Bytes& frame, bool has_reply) {
        for (auto it = e.faults.begin(); it != e.faults.end(); ++it) {
            if (it->match.empty() ? !has_reply : !starts_with(frame, it->match)) continue;
            Fault f = *it;
            if (it->count != kForever && --it->count <= 0) e.faults.erase(it);
            return f;
        }
        return {};
    }

    void handle(Unit& u, Endpoint ep, Protocol& proto, const Bytes& frame, std::deque<Chunk>& out,
                const sockaddr_in& peer) {
        EndpointData& e = u.eps[idx(ep)];
        e.log.push_back(frame);
        cv.notify_all();
        std::optional<Bytes> reply = proto.answer(frame);
        Fault f = take_fault(e, frame, reply.has_value());
        auto now = Clock::now();
        auto t = std::max(now, out.empty() ? now : out.back().at) + f.delay;
        for (Piece& p : shape_reply(f, reply)) {
            t += p.after;
            out.push_back({std::move(p.bytes), t, p.close_after, peer});
        }
    }

    void kill(Conn& c) {
        if (c.fd) ::shutdown(c.fd.get(), SHUT_RDWR);
        c.fd.reset();
        c.dead = true;
    }

    void flush(Conn& c) {
        auto now = Clock::now();
        while (!c.dead && !c.out.empty() && c.out.front().at <= now) {
            Chunk& ch = c.out.front();
            if (!ch.bytes.empty()) {
                ssize_t n = ::send(c.fd.get(), ch.bytes.data(), ch.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0) {
                    if (errno != EAGAIN && errno != EWOULDBLOCK) kill(c);
                    return;
                }
                ch.bytes.erase(ch.bytes.begin(), ch.bytes.begin() + n);
                if (!ch.bytes.empty()) return;
            }
            bool close = ch.close_after;
            c.out.pop_front();
            if (close) kill(c);
        }
    }

    void flush_udp(Unit& u) {
        auto now = Clock::now();
        while (!u.udp_out.empty() && u.udp_out.front().at <= now) {
            const Chunk& ch = u.udp_out.front();
            // A lost datagram is what UDP does anyway: no retry.
            ::sendto(u.udp_fd.get(), ch.bytes.data(), ch.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&ch.peer), sizeof ch.peer);
            u.udp_out.pop_front();
        }
    }

    void flush_all() {
        for (auto& c : conns) flush(*c);
        for (auto& u : units)
            if (u->udp_fd) flush_udp(*u);
    }

    void accept_on(Unit& u, Endpoint ep) {
        Listener& l = u.eps[idx(ep)].listener;
        for (;;) {
            Fd fd(::accept4(l.fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!fd) return;
            auto c = std::make_unique<Conn>();
            c->unit = &u;
            c->ep = ep;
            c->fd = std::move(fd);
            c->proto = make_protocol(u, ep);
            Bytes hello = c->proto->greeting();
            if (!hello.empty()) c->out.push_back({std::move(hello), Clock::now(), false, {}});
            ++u.eps[idx(ep)].accepted;
            conns.push_back(std::move(c));
            cv.notify_all();
        }
    }

    void read_conn(Conn& c) {
        std::uint8_t buf[4096];
        ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            kill(c);
            return;
        }
        if (n < 0) return;
        c.in.insert(c.in.end(), buf, buf + n);
        while (!c.in.empty() && !c.dead) {
            std::size_t len = c.proto->frame_length(c.in);
            if (len == 0) break;
            Bytes frame(c.in.begin(), c.in.begin() + static_cast<long>(len));
            c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(len));
            handle(*c.unit, c.ep, *c.proto, frame, c.out, {});
        }
    }

    // Datagrams on a unit's socket, or on a shared one (then every unit on
    // that port takes it, and each answers from its own socket).
    void read_udp(int fd, Unit* only, std::uint16_t shared_port) {
        for (int i = 0; i < 64; ++i) {
            std::uint8_t buf[2048];
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &len);
            if (n < 0) return;
            Bytes d(buf, buf + n);
            for (auto& u : units) {
                Unit& x = *u;
                bool takes = only ? &x == only : (x.udp_fd && x.cfg.udp_port == shared_port);
                if (takes) handle(x, Endpoint::Udp, *x.udp_proto, d, x.udp_out, peer);
            }
        }
    }

    // ---------------------------------------------------------------- loop

    void loop() {
        std::unique_lock lk(m);
        while (!stopping) {
            conns.remove_if([](const std::unique_ptr<Conn>& c) { return c->dead; });
            flush_all();

            enum Kind { Wake, Listen, Stream, UnitUdp, Shared };
            struct Target {
                Kind kind;
                Unit* u;
                Endpoint ep;
                Conn* c;
                std::uint16_t port;
            };
            std::vector<pollfd> pfds;
            std::vector<Target> targets;
            auto add = [&](int fd, short events, Target t) {
                pfds.push_back({fd, events, 0});
                targets.push_back(t);
            };
            add(wake.get(), POLLIN, {Wake, nullptr, Endpoint::Data, nullptr, 0});
            for (auto& u : units) {
                for (int i = 0; i < kEndpoints; ++i) {
                    Listener& l = u->eps[i].listener;
                    if (l.fd && l.mode == ConnectMode::Accept)
                        add(l.fd.get(), POLLIN, {Listen, u.get(), static_cast<Endpoint>(i), nullptr, 0});
                }
                if (u->udp_fd) add(u->udp_fd.get(), POLLIN, {UnitUdp, u.get(), Endpoint::Udp, nullptr, 0});
            }
            for (auto& s : shared) add(s.fd.get(), POLLIN, {Shared, nullptr, Endpoint::Udp, nullptr, s.port});

            auto now = Clock::now();
            auto next = Clock::time_point::max();
            auto consider = [&](const std::deque<Chunk>& q) {
                if (!q.empty()) next = std::min(next, q.front().at);
            };
            for (auto& c : conns) {
                bool due = !c->out.empty() && c->out.front().at <= now;  // still due: the socket was full
                add(c->fd.get(), static_cast<short>(POLLIN | (due ? POLLOUT : 0)),
                    {Stream, c->unit, c->ep, c.get(), 0});
                consider(c->out);
            }
            for (auto& u : units) consider(u->udp_out);
            int timeout = -1;
            if (next != Clock::time_point::max()) {
                auto ms = std::chrono::ceil<Millis>(next - now).count();
                timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
            }

            std::uint64_t gen = generation;
            lk.unlock();
            int ready = ::poll(pfds.data(), pfds.size(), timeout);
            lk.lock();
            if (stopping) break;
            if (ready <= 0 || gen != generation) continue;

            for (std::size_t i = 0; i < pfds.size(); ++i) {
                if (!pfds[i].revents) continue;
                Target& t = targets[i];
                switch (t.kind) {
                case Wake: {
                    std::uint64_t v;
                    [[maybe_unused]] auto n = ::read(wake.get(), &v, sizeof v);
                    break;
                }
                case Listen: accept_on(*t.u, t.ep); break;
                case Stream:
                    if (!t.c->dead && (pfds[i].revents & (POLLIN | POLLHUP | POLLERR))) read_conn(*t.c);
                    break;
                case UnitUdp: read_udp(t.u->udp_fd.get(), t.u, 0); break;
                case Shared: read_udp(pfds[i].fd, nullptr, t.port); break;
                }
            }
        }
    }
};

// ---------------------------------------------------------------- lifecycle

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {}

Simulator::Simulator(std::vector<UnitConfig> units) : Simulator() {
    for (auto& u : units) add_unit(std::move(u));
    start();
}

Simulator::~Simulator() { stop(); }

int Simulator::add_unit(UnitConfig config) {
    std::lock_guard lk(impl_->m);
    auto u = std::make_unique<Unit>();
    u->number = static_cast<int>(impl_->units.size());
    in_addr a{};
    if (::inet_pton(AF_INET, config.ip.c_str(), &a) != 1)
        throw std::invalid_argument("wexosim: bad unit address " + config.ip);
    u->addr = make_addr(a.s_addr, 0);
    u->cfg = std::move(config);
    u->st.model = u->cfg.model;
    u->st.board_id = u->cfg.board_id & 0x0F;
    u->st.pins = u->cfg.initial_pins & 0x07;
    u->set_inputs(u->cfg.initial_inputs);
    u->set_outputs(u->cfg.initial_outputs);
    install_board_commands(*u);
    install_module_commands(*u);
    Unit& ref = *u;
    impl_->units.push_back(std::move(u));
    if (impl_->running) {
        try {
            impl_->open_unit(ref);
        } catch (...) {
            impl_->units.pop_back();
            impl_->poke();
            throw;
        }
    }
    return ref.number;
}

void Simulator::start() {
    std::lock_guard lk(impl_->m);
    if (impl_->running) return;
    impl_->wake = Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    try {
        for (auto& u : impl_->units) impl_->open_unit(*u);
    } catch (...) {
        for (auto& u : impl_->units) {
            for (auto& e : u->eps) e.listener.fd.reset(), e.listener.filler.reset();
            u->udp_fd.reset();
        }
        impl_->shared.clear();
        throw;
    }
    impl_->running = true;
    impl_->stopping = false;
    impl_->thread = std::thread([this] { impl_->loop(); });
}

void Simulator::stop() {
    {
        std::lock_guard lk(impl_->m);
        if (!impl_->running) return;
        impl_->stopping = true;
        impl_->poke();
    }
    impl_->thread.join();
    std::lock_guard lk(impl_->m);
    impl_->conns.clear();
    impl_->shared.clear();
    for (auto& u : impl_->units) {
        for (auto& e : u->eps) e.listener.fd.reset(), e.listener.filler.reset();
        u->udp_fd.reset();
        u->udp_out.clear();
    }
    impl_->running = false;
}

bool Simulator::running() const {
    std::lock_guard lk(impl_->m);
    return impl_->running;
}

// ---------------------------------------------------------------- queries and state

#define WEXOSIM_LOCKED_UNIT(n)            \
    std::lock_guard lk_(impl_->m); \
    Unit& u = impl_->unit(n)

int Simulator::unit_count() const {
    std::lock_guard lk(impl_->m);
    return static_cast<int>(impl_->units.size());
}

UnitConfig Simulator::config(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.cfg;
}

std::string Simulator::ip(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.cfg.ip;
}

std::uint16_t Simulator::port(int unit, Endpoint ep) const {
    WEXOSIM_LOCKED_UNIT(unit);
    if (ep == Endpoint::Udp) return u.udp_port;
    const Listener& l = u.eps[idx(ep)].listener;
    return l.served ? l.port : 0;
}

UnitState Simulator::state(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    UnitState s = u.st;
    s.inputs = u.inputs();
    s.outputs = u.outputs();
    return s;
}

void Simulator::set_inputs(int unit, std::uint32_t bits) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.set_inputs(bits);
}

void Simulator::set_input(int unit, int channel, bool on) {
    WEXOSIM_LOCKED_UNIT(unit);
    if (channel < 0 || channel > 31) throw std::out_of_range("wexosim: input channel");
    std::uint32_t bit = 1u << channel;
    u.set_inputs(on ? (u.inputs() | bit) : (u.inputs() & ~bit));
}

std::uint32_t Simulator::inputs(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.inputs();
}

void Simulator::set_outputs(int unit, std::uint32_t bits) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.set_outputs(bits);
}

std::uint32_t Simulator::outputs(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.outputs();
}

void Simulator::set_pins(int unit, std::uint8_t bits) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.st.pins = bits & 0x07;
}

std::uint8_t Simulator::pins(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.st.pins;
}

void Simulator::set_auto_switching(int unit, const AutoSwitching& as) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.st.auto_switching = as;
}

AutoSwitching Simulator::auto_switching(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.st.auto_switching;
}

void Simulator::set_board_id(int unit, int id) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.st.board_id = id & 0x0F;
}

void Simulator::set_model(int unit, int model) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.st.model = model;
}

std::array<std::uint8_t, 3> Simulator::cp_modes(int unit) const {
    WEXOSIM_LOCKED_UNIT(unit);
    return u.cp_modes();
}

void Simulator::set_cp_modes(int unit, std::array<std::uint8_t, 3> modes) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.cfg.cp_modes = modes;
}

void Simulator::set_answer_ident(int unit, bool answer) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.cfg.answer_ident = answer;
}

void Simulator::set_ignore_discovery(int unit, bool ignore) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.cfg.ignore_discovery = ignore;
}

void Simulator::set_answer_setup_query(int unit, bool answer) {
    WEXOSIM_LOCKED_UNIT(unit);
    u.cfg.answer_setup_query = answer;
}

// ---------------------------------------------------------------- faults

void Simulator::inject(int unit, Endpoint ep, Fault fault) {
    WEXOSIM_LOCKED_UNIT(unit);
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
    if (ep == Endpoint::Udp) throw std::invalid_argument("wexosim: connect mode of a UDP endpoint");
    Listener& l = u.eps[idx(ep)].listener;
    if (!l.served) throw std::invalid_argument(std::string("wexosim: endpoint not served: ") + endpoint_name(ep));
    if (!impl_->running) {
        l.mode = mode;
        return;
    }
    impl_->apply_mode(u, ep, mode);
}

void Simulator::close_connections(int unit, Endpoint ep) {
    WEXOSIM_LOCKED_UNIT(unit);
    for (auto& c : impl_->conns)
        if (c->unit == &u && c->ep == ep) impl_->kill(*c);
    impl_->poke();
}

void Simulator::send_unsolicited(int unit, Endpoint ep, Bytes bytes) {
    WEXOSIM_LOCKED_UNIT(unit);
    for (auto& c : impl_->conns) {
        if (c->unit != &u || c->ep != ep || c->dead) continue;
        c->out.push_back({bytes, Clock::now(), false, {}});
        impl_->flush(*c);
    }
    impl_->poke();
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
    std::unique_lock lk(impl_->m);
    Unit& u = impl_->unit(unit);
    return impl_->cv.wait_for(lk, timeout, [&] { return u.eps[idx(ep)].log.size() >= n; });
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
    return static_cast<int>(std::count_if(impl_->conns.begin(), impl_->conns.end(), [&](const auto& c) {
        return c->unit == &u && c->ep == ep && !c->dead;
    }));
}

bool Simulator::wait_accepted(int unit, Endpoint ep, int n, Millis timeout) const {
    std::unique_lock lk(impl_->m);
    Unit& u = impl_->unit(unit);
    return impl_->cv.wait_for(lk, timeout, [&] { return u.eps[idx(ep)].accepted >= n; });
}

}  // namespace wexosim
