// The simulator's sockets, its poll loop, the timed output queues and the
// module restarts. Everything here runs under the loop's one mutex.
#include "internal.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace wexosim::detail {

struct EventLoop::Conn {
    Unit* unit = nullptr;
    Endpoint ep = Endpoint::Data;
    Fd fd;
    Bytes in;
    std::deque<Chunk> out;
    std::unique_ptr<Protocol> proto;
    bool dead = false;
};

namespace {

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

in_addr_t parse_ip(const std::string& text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) throw std::invalid_argument("wexosim: bad address " + text);
    return a.s_addr;
}

Fd open_socket(int type) {
    Fd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) throw std::runtime_error(std::string("wexosim: socket: ") + std::strerror(errno));
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (type == SOCK_DGRAM) ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    return fd;
}

bool try_bind(const Fd& fd, const sockaddr_in& a) {
    return ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

Fd bound_socket(int type, const sockaddr_in& a) {
    Fd fd = open_socket(type);
    if (!try_bind(fd, a)) fail("bind", a);
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

std::uint16_t configured_port(const Unit& u, Endpoint ep) {
    switch (ep) {
    case Endpoint::Data: return u.st.data_port;
    case Endpoint::Pins: return u.cfg.pins_port;
    case Endpoint::PinMode: return u.cfg.pinmode_port;
    case Endpoint::Setup: return u.cfg.setup_port;
    case Endpoint::Udp: return u.cfg.udp_port;
    }
    return 0;
}

Fault take_fault(EndpointData& e, const Bytes& frame, bool has_reply) {
    for (auto it = e.faults.begin(); it != e.faults.end(); ++it) {
        if (it->match.empty() ? !has_reply : !starts_with(frame, it->match)) continue;
        Fault f = *it;
        if (it->count != kForever && --it->count <= 0) e.faults.erase(it);
        return f;
    }
    return {};
}

// A reply "from a foreign host": a socket of its own on `source`, on the
// unit's port when it can have it (SO_REUSEADDR lets UDP share it).
void send_from(const std::string& source, std::uint16_t port, const Chunk& ch) {
    try {
        Fd fd = open_socket(SOCK_DGRAM);
        sockaddr_in a = make_addr(parse_ip(source), port);
        if (!try_bind(fd, a)) {
            a.sin_port = 0;
            if (!try_bind(fd, a)) fail("bind (foreign source)", a);
        }
        ::sendto(fd.get(), ch.bytes.data(), ch.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&ch.peer), sizeof ch.peer);
    } catch (const std::exception& e) {
        // On the loop thread nobody can take the exception: say it and drop the datagram.
        std::fprintf(stderr, "%s\n", e.what());
    }
}

// The address a datagram was sent to (IP_PKTINFO); INADDR_ANY when unknown.
in_addr_t destination(msghdr& msg) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
            return reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c))->ipi_addr.s_addr;
    return htonl(INADDR_ANY);
}

// The limited broadcast, or the broadcast address of one of this host's
// interfaces (that is not also an address of this host: without a broadcast
// address configured, an interface reports its own address there).
bool is_broadcast(in_addr_t dst) {
    if (dst == htonl(INADDR_BROADCAST)) return true;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    auto is = [dst](const sockaddr* a) {
        return a && a->sa_family == AF_INET && reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr == dst;
    };
    bool local = false, broadcast = false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        local = local || is(i->ifa_addr);
        broadcast = broadcast || ((i->ifa_flags & IFF_BROADCAST) && is(i->ifa_broadaddr));
    }
    ::freeifaddrs(list);
    return broadcast && !local;
}

}  // namespace

EventLoop::EventLoop() = default;

EventLoop::~EventLoop() { stop(); }

Unit& EventLoop::unit(int n) const {
    if (n < 0 || n >= static_cast<int>(units_.size()))
        throw std::out_of_range("wexosim: no unit " + std::to_string(n));
    return *units_[static_cast<std::size_t>(n)];
}

void EventLoop::wake() {
    std::uint64_t one = 1;
    if (wake_) [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
}

void EventLoop::poke() {
    ++generation_;
    wake();
}

// The loop looks again too: a change may start timers (running pulse counters).
void EventLoop::notify() {
    cv_.notify_all();
    wake();
}

// ---------------------------------------------------------------- listeners and units

void EventLoop::apply_mode(Unit& u, Endpoint ep, ConnectMode mode) {
    Listener& l = u.eps[idx(ep)].listener;
    l.filler.reset();
    // The poll thread may still hold the old listener inside poll(), which
    // keeps it listening after close(); shutdown stops it at once, so the
    // port can be bound again and queued connects are reset.
    if (l.fd) ::shutdown(l.fd.get(), SHUT_RDWR);
    l.fd.reset();
    l.mode = mode;
    if (mode != ConnectMode::Refuse && !u.st.restarting) {
        std::uint16_t port = ep == Endpoint::Data ? u.st.data_port : l.port ? l.port : configured_port(u, ep);
        sockaddr_in a = make_addr(u.addr.sin_addr.s_addr, port);
        l.fd = bound_socket(SOCK_STREAM, a);
        // Stall: an accept queue of one, filled by our own connection and
        // never accepted, makes the kernel drop further handshakes.
        if (::listen(l.fd.get(), mode == ConnectMode::Stall ? 0 : 64) != 0) fail("listen", a);
        l.port = local_port(l.fd);
        if (ep == Endpoint::Data) u.st.data_port = l.port;
        if (mode == ConnectMode::Stall) {
            a.sin_port = htons(l.port);
            l.filler = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (!l.filler || ::connect(l.filler.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
                fail("connect (stall filler)", a);
        }
    }
    poke();
}

void EventLoop::open_unit(Unit& u) {
    u.addr = make_addr(parse_ip(u.st.ip), 0);
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
    if (!u.udp_proto) u.udp_proto = make_udp_protocol(u);
    // Broadcasts reach only a socket bound to the wildcard address; the
    // unit's own socket gets its unicast queries and sends every reply.
    if (u.cfg.udp_port != 0 &&
        std::none_of(shared_.begin(), shared_.end(), [&](const SharedUdp& s) { return s.port == u.cfg.udp_port; })) {
        Fd fd = bound_socket(SOCK_DGRAM, make_addr(htonl(INADDR_ANY), u.cfg.udp_port));
        int one = 1;
        ::setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);  // to tell broadcasts apart
        shared_.push_back({std::move(fd), u.cfg.udp_port});
    }
    poke();
}

void EventLoop::close_listeners(Unit& u) {
    for (auto& e : u.eps) {
        e.listener.filler.reset();
        if (e.listener.fd) ::shutdown(e.listener.fd.get(), SHUT_RDWR);
        e.listener.fd.reset();
    }
}

void EventLoop::close_unit(Unit& u) {
    close_listeners(u);
    for (auto& c : conns_)
        if (c->unit == &u) kill(*c);
    u.udp_fd.reset();
    u.udp_out.clear();
    poke();
}

void EventLoop::start() {
    if (running_) return;
    wake_ = Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    // A restart cut short by stop() is over: start serves every port.
    for (auto& u : units_) {
        u->st.restarting = false;
        u->down_at.reset();
        u->up_at.reset();
    }
    try {
        for (auto& u : units_) open_unit(*u);
    } catch (...) {
        for (auto& u : units_) close_unit(*u);
        shared_.clear();
        throw;
    }
    running_ = true;
    stopping_ = false;
    thread_ = std::thread([this] { loop(); });
}

void EventLoop::stop() {
    {
        std::lock_guard lk(m_);
        if (!running_) return;
        stopping_ = true;
        poke();
    }
    thread_.join();
    std::lock_guard lk(m_);
    for (auto& u : units_) close_unit(*u);
    conns_.clear();
    shared_.clear();
    running_ = false;
}

// ---------------------------------------------------------------- connections

void EventLoop::set_connect_mode(Unit& u, Endpoint ep, ConnectMode mode) {
    if (ep == Endpoint::Udp) throw std::invalid_argument("wexosim: connect mode of a UDP endpoint");
    Listener& l = u.eps[idx(ep)].listener;
    if (!l.served) throw std::invalid_argument(std::string("wexosim: endpoint not served: ") + endpoint_name(ep));
    if (!running_) {
        l.mode = mode;
        return;
    }
    apply_mode(u, ep, mode);
}

void EventLoop::close_connections(Unit& u, Endpoint ep) {
    for (auto& c : conns_)
        if (c->unit == &u && c->ep == ep) kill(*c);
    poke();
}

void EventLoop::send_unsolicited(Unit& u, Endpoint ep, const Bytes& bytes) {
    for (auto& c : conns_) {
        if (c->unit != &u || c->ep != ep || c->dead) continue;
        c->out.push_back({bytes, Clock::now()});
        flush(*c);
    }
    poke();
}

int EventLoop::open_connections(const Unit& u, Endpoint ep) const {
    return static_cast<int>(std::count_if(conns_.begin(), conns_.end(), [&](const auto& c) {
        return c->unit == &u && c->ep == ep && !c->dead;
    }));
}

void EventLoop::restart(Unit& u, Millis down_time) {
    u.down_at = Clock::now();
    u.down_time = down_time;
    poke();
}

// ---------------------------------------------------------------- requests and replies

void EventLoop::handle(Unit& u, Endpoint ep, Protocol& proto, const Bytes& frame, std::deque<Chunk>& out,
                       const sockaddr_in& peer) {
    EndpointData& e = u.eps[idx(ep)];
    e.log.push_back(frame);
    std::optional<Bytes> reply = proto.answer(frame);
    Fault f = take_fault(e, frame, reply.has_value());
    auto now = Clock::now();
    // A stream keeps its order; datagrams are independent, so a delayed one
    // is sorted in by its due time and holds up nothing behind it.
    const bool stream = ep != Endpoint::Udp;
    auto t = (stream && !out.empty() ? std::max(now, out.back().at) : now) + f.delay;
    for (Piece& p : shape_reply(f, reply)) {
        t += p.after;
        Chunk ch{std::move(p.bytes), t, p.close_after, peer, f.source_ip};
        auto at = std::upper_bound(out.begin(), out.end(), t, [](auto when, const Chunk& c) { return when < c.at; });
        out.insert(at, std::move(ch));
    }
    if (u.restart_requested) {
        // The module restarts once its answer is out; from now on it takes
        // no new connection, so nobody can mistake it for already back.
        u.restart_requested = false;
        close_listeners(u);
        u.down_at = std::max(now, t);
        u.down_time = Millis{u.cfg.restart_ms};
    }
    cv_.notify_all();
}

void EventLoop::kill(Conn& c) {
    if (c.fd) ::shutdown(c.fd.get(), SHUT_RDWR);
    c.fd.reset();
    c.dead = true;
}

void EventLoop::flush(Conn& c) {
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

void EventLoop::flush_udp(Unit& u) {
    auto now = Clock::now();
    while (!u.udp_out.empty() && u.udp_out.front().at <= now) {
        const Chunk& ch = u.udp_out.front();
        // A lost datagram is what UDP does anyway: no retry.
        if (!ch.source.empty())
            send_from(ch.source, u.udp_port, ch);
        else
            ::sendto(u.udp_fd.get(), ch.bytes.data(), ch.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&ch.peer), sizeof ch.peer);
        u.udp_out.pop_front();
    }
}

void EventLoop::accept_on(Unit& u, Endpoint ep) {
    Listener& l = u.eps[idx(ep)].listener;
    for (;;) {
        Fd fd(::accept4(l.fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) return;
        // Replies go out as soon as they are made, as a serial tunnel sends them.
        const int one = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->unit = &u;
        c->ep = ep;
        c->fd = std::move(fd);
        c->proto = make_protocol(u, ep);
        Bytes hello = c->proto->greeting();
        if (!hello.empty()) c->out.push_back({std::move(hello), Clock::now()});
        ++u.eps[idx(ep)].accepted;
        conns_.push_back(std::move(c));
        cv_.notify_all();
    }
}

void EventLoop::read_conn(Conn& c) {
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
// that port that is up takes it, and each answers from its own socket).
void EventLoop::read_udp(int fd, Unit* only, std::uint16_t shared_port) {
    for (int i = 0; i < 64; ++i) {
        std::uint8_t buf[2048];
        sockaddr_in peer{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &peer;
        msg.msg_namelen = sizeof peer;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd, &msg, 0);
        if (n < 0) return;
        // The wildcard socket also gets unicast for addresses no unit serves
        // now (a unit that is down or has moved): that is nobody's datagram.
        if (!only && !is_broadcast(destination(msg))) continue;
        Bytes d(buf, buf + n);
        for (auto& u : units_) {
            Unit& x = *u;
            bool takes = only ? &x == only : (x.udp_fd && x.cfg.udp_port == shared_port);
            if (takes) handle(x, Endpoint::Udp, *x.udp_proto, d, x.udp_out, peer);
        }
    }
}

namespace {

constexpr Millis kCountTick{10};

bool counting(const Unit& u) {
    return std::any_of(u.st.pulse.channels.begin(), u.st.pulse.channels.end(),
                       [](const PulseChannel& c) { return c.rate_hz > 0; });
}

}  // namespace

// Restarts: the module's ports go down once its last answer is out, and
// come back after the down time on the address and data port it has then.
void EventLoop::run_timers() {
    auto now = Clock::now();
    for (auto& p : units_) {
        Unit& u = *p;
        // Running pulse counters change with time: let waiters look again.
        if (counting(u)) cv_.notify_all();
        if (u.down_at && *u.down_at <= now) {
            u.down_at.reset();
            close_unit(u);
            u.st.restarting = true;
            ++u.st.restarts;
            u.up_at = now + u.down_time;
            cv_.notify_all();
        }
        if (u.up_at && *u.up_at <= now) {
            u.up_at.reset();
            u.st.restarting = false;
            try {
                open_unit(u);
            } catch (const std::exception& e) {
                // An address this host does not have: the module stays away.
                std::fprintf(stderr, "%s (unit %d stays down)\n", e.what(), u.number);
                close_unit(u);
                u.st.restarting = true;
            }
            cv_.notify_all();
        }
    }
}

// ---------------------------------------------------------------- loop

void EventLoop::loop() {
    std::unique_lock lk(m_);
    while (!stopping_) {
        conns_.remove_if([](const std::unique_ptr<Conn>& c) { return c->dead; });
        for (auto& c : conns_) flush(*c);
        for (auto& u : units_)
            if (u->udp_fd) flush_udp(*u);
        run_timers();

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
        add(wake_.get(), POLLIN, {Wake, nullptr, Endpoint::Data, nullptr, 0});
        auto now = Clock::now();
        auto next = Clock::time_point::max();
        auto consider = [&](const std::deque<Chunk>& q) {
            if (!q.empty()) next = std::min(next, q.front().at);
        };
        for (auto& u : units_) {
            for (int i = 0; i < kEndpoints; ++i) {
                Listener& l = u->eps[i].listener;
                if (l.fd && l.mode == ConnectMode::Accept)
                    add(l.fd.get(), POLLIN, {Listen, u.get(), static_cast<Endpoint>(i), nullptr, 0});
            }
            if (u->udp_fd) add(u->udp_fd.get(), POLLIN, {UnitUdp, u.get(), Endpoint::Udp, nullptr, 0});
            consider(u->udp_out);
            for (auto& when : {u->down_at, u->up_at})
                if (when) next = std::min(next, *when);
            if (counting(*u)) next = std::min(next, now + kCountTick);
        }
        for (auto& s : shared_) add(s.fd.get(), POLLIN, {Shared, nullptr, Endpoint::Udp, nullptr, s.port});
        for (auto& c : conns_) {
            bool due = !c->out.empty() && c->out.front().at <= now;  // still due: the socket was full
            add(c->fd.get(), static_cast<short>(POLLIN | (due ? POLLOUT : 0)), {Stream, c->unit, c->ep, c.get(), 0});
            consider(c->out);
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            auto ms = std::chrono::ceil<Millis>(next - now).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
        }

        std::uint64_t gen = generation_;
        lk.unlock();
        int ready = ::poll(pfds.data(), pfds.size(), timeout);
        lk.lock();
        if (stopping_) break;
        if (ready <= 0 || gen != generation_) continue;

        for (std::size_t i = 0; i < pfds.size(); ++i) {
            if (!pfds[i].revents) continue;
            Target& t = targets[i];
            switch (t.kind) {
            case Wake: {
                std::uint64_t v;
                [[maybe_unused]] auto n = ::read(wake_.get(), &v, sizeof v);
                break;
            }
            case Listen: accept_on(*t.u, t.ep); break;
            case Stream:
                if (!t.c->dead && (pfds[i].revents & (POLLIN | POLLHUP | POLLERR))) read_conn(*t.c);
                break;
            case UnitUdp:
                if (t.u->udp_fd) read_udp(t.u->udp_fd.get(), t.u, 0);
                break;
            case Shared: read_udp(pfds[i].fd, nullptr, t.port); break;
            }
        }
    }
}

}  // namespace wexosim::detail
