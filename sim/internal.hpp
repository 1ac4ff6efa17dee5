// Internals shared by the simulator's sources; not part of its API.
#pragma once

#include "wexosim.hpp"

#include <netinet/in.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace wexosim::detail {

using Clock = std::chrono::steady_clock;

// Owns one descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) reset(std::exchange(o.fd_, -1));
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

constexpr int kEndpoints = 5;
inline int idx(Endpoint ep) { return static_cast<int>(ep); }

// One piece of a reply as the fault shaping leaves it.
struct Piece {
    Bytes bytes;
    Millis after{0};        // pause before this piece
    bool close_after = false;
};

// Turns the unit's reply (nullopt: the unit would stay silent) into what is
// actually sent under `fault`.
std::vector<Piece> shape_reply(const Fault& fault, const std::optional<Bytes>& reply);

// Bytes queued on a connection or a datagram socket.
struct Chunk {
    Bytes bytes;
    Clock::time_point at;
    bool close_after = false;
    sockaddr_in peer{};      // datagrams only
    std::string source{};    // datagrams only: send from this address (Fault::source_ip)
};

struct BinaryCommand {
    std::size_t length = 1;
    Handler handler;
};

struct Unit;

// The request side of one endpoint: splits the incoming stream into frames
// and answers them. One instance per TCP connection (so a protocol may keep
// per-connection state), one per unit for UDP.
class Protocol {
public:
    virtual ~Protocol() = default;
    virtual Bytes greeting() { return {}; }
    // Length of the frame at the front of `in` (not empty); 0: more bytes needed.
    virtual std::size_t frame_length(const Bytes& in) = 0;
    virtual std::optional<Bytes> answer(const Bytes& frame) = 0;
};
std::unique_ptr<Protocol> make_protocol(Unit& unit, Endpoint ep);
std::unique_ptr<Protocol> make_board_protocol(Unit& unit);
std::unique_ptr<Protocol> make_udp_protocol(Unit& unit);

struct Listener {
    Fd fd;
    Fd filler;               // Stall: the connection that fills the accept queue
    std::uint16_t port = 0;  // bound port (fixed once known)
    ConnectMode mode = ConnectMode::Accept;
    bool served = false;
};

struct EndpointData {
    Listener listener;
    std::deque<Fault> faults;
    std::vector<Bytes> log;
    int accepted = 0;
};

struct Unit {
    int number = 0;
    Clock::time_point born = Clock::now();  // analog waves run from here
    UnitConfig cfg;                  // start configuration: never changed
    UnitState st;                    // changing state, pins kept apart (see view())
    std::array<std::uint8_t, 6> mac{};
    sockaddr_in addr{};              // address served now
    std::array<EndpointData, kEndpoints> eps;
    std::map<std::string, Handler> ascii;
    std::map<std::uint8_t, BinaryCommand> binary;
    std::map<int, Handler> udp;      // key: udp_key()
    Fd udp_fd;
    std::uint16_t udp_port = 0;
    std::deque<Chunk> udp_out;       // ordered by due time: a delayed datagram holds up nothing
    std::unique_ptr<Protocol> udp_proto;

    // Live pulse count = channel count + rate x the time since this point.
    std::array<Clock::time_point, kPulseChannels> pulse_since{};
    std::uint32_t pulse_count(std::size_t channel) const;
    std::size_t pulse_channels() const;  // counters the board has: one per input

    // A handler asks for a restart here; it begins once the reply is out.
    bool restart_requested = false;
    std::optional<Clock::time_point> down_at, up_at;
    Millis down_time{0};

    int n_outputs() const;
    int n_inputs() const;
    IdentForm ident_form() const;
    bool short_pin_form() const { return cfg.firm_major * 100 + cfg.firm_minor * 10 < 150; }

    // Model 1 drives its outputs through the pins; model 2 reads inputs 5, 6 from them.
    std::uint32_t outputs() const;
    void set_outputs(std::uint32_t bits);
    std::uint32_t inputs() const;
    void set_inputs(std::uint32_t bits);

    // The state as the API shows it, and a change of that view written back.
    UnitState view() const;
    void apply(const UnitState& before, const UnitState& after);
};

// Datagram key for the module's command table: the query byte at offset 3,
// or kProbeKey for the two-letter probe.
constexpr int kProbeKey = 0x100;
int udp_key(const Bytes& datagram);

// Text forms shared by the unit definitions and the control language; both
// throw std::invalid_argument naming `key`.
long parse_number(const std::string& key, const std::string& value, long lo, long hi);
bool parse_bool(const std::string& key, const std::string& value);  // on/off, 1/0, yes/no, true/false

// The state a unit starts with, from its start configuration (also its
// module's factory settings).
UnitState initial_state(const UnitConfig& config);

// Fill the command tables with the built-in commands.
void install_board_commands(Unit& unit);
void install_module_commands(Unit& unit);

// Frame builders shared with tests of the frames themselves.
Bytes status_reply(const Unit& unit);
Bytes discovery_reply(const Unit& unit);
Bytes setup_record(const Unit& unit);
Bytes ident_text_reply(const Unit& unit);
Bytes cp_block(const Unit& unit);

// The event loop: sockets, the poll thread, timed output queues and restarts.
class EventLoop {
public:
    EventLoop();
    ~EventLoop();
    std::vector<std::unique_ptr<Unit>>& units() { return units_; }
    Unit& unit(int n) const;

    void start();   // opens every unit's sockets and starts the thread
    void stop();    // joins the thread and closes everything
    bool running() const { return running_; }
    void open_unit(Unit& u);    // binds the unit's sockets (while running)
    void notify();              // state changed: wake waiters

    void set_connect_mode(Unit& u, Endpoint ep, ConnectMode mode);
    void close_connections(Unit& u, Endpoint ep);
    void send_unsolicited(Unit& u, Endpoint ep, const Bytes& bytes);
    int open_connections(const Unit& u, Endpoint ep) const;
    void restart(Unit& u, Millis down_time);

    template <class Pred>
    bool wait(std::unique_lock<std::mutex>& lk, Millis timeout, Pred pred) const {
        return cv_.wait_for(lk, timeout, pred);
    }
    std::mutex& mutex() const { return m_; }

private:
    struct Conn;
    struct SharedUdp {
        Fd fd;
        std::uint16_t port = 0;
    };

    void wake();
    void poke();
    void apply_mode(Unit& u, Endpoint ep, ConnectMode mode);
    void close_listeners(Unit& u);  // new connections refused
    void close_unit(Unit& u);
    void handle(Unit& u, Endpoint ep, Protocol& proto, const Bytes& frame, std::deque<Chunk>& out,
                const sockaddr_in& peer);
    void kill(Conn& c);
    void flush(Conn& c);
    void flush_udp(Unit& u);
    void accept_on(Unit& u, Endpoint ep);
    void read_conn(Conn& c);
    void read_udp(int fd, Unit* only, std::uint16_t shared_port);
    void run_timers();
    void loop();

    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::vector<std::unique_ptr<Unit>> units_;
    std::list<std::unique_ptr<Conn>> conns_;
    std::vector<SharedUdp> shared_;
    Fd wake_;
    std::thread thread_;
    bool running_ = false;
    bool stopping_ = false;
    // Bumped whenever a descriptor is opened or closed outside the loop, so
    // that the loop drops poll results that may name stale descriptors.
    std::uint64_t generation_ = 0;
};

}  // namespace wexosim::detail
