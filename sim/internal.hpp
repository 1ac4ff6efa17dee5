// Internals shared by the simulator's sources; not part of its API.
#pragma once

#include "wexosim.hpp"

#include <netinet/in.h>
#include <unistd.h>

#include <deque>
#include <map>
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
    UnitConfig cfg;
    UnitState st;
    sockaddr_in addr{};
    std::array<EndpointData, kEndpoints> eps;
    std::map<std::string, Handler> ascii;
    std::map<std::uint8_t, BinaryCommand> binary;
    std::map<int, Handler> udp;          // key: udp_key()
    Fd udp_fd;
    std::uint16_t udp_port = 0;
    std::deque<Chunk> udp_out;
    std::unique_ptr<Protocol> udp_proto;

    int n_outputs() const;
    int n_inputs() const;
    IdentForm ident_form() const;
    bool short_pin_form() const { return cfg.firm_major * 100 + cfg.firm_minor * 10 < 150; }
    std::array<std::uint8_t, 3> cp_modes() const;

    // Model 1 drives its outputs through the pins; model 2 reads inputs 5, 6 from them.
    std::uint32_t outputs() const;
    void set_outputs(std::uint32_t bits);
    std::uint32_t inputs() const;
    void set_inputs(std::uint32_t bits);
};

// Datagram key for the module's command table: the query byte at offset 3,
// or kProbeKey for the two-letter probe.
constexpr int kProbeKey = 0x100;
int udp_key(const Bytes& datagram);

// Fill the command tables with the built-in commands.
void install_board_commands(Unit& unit);
void install_module_commands(Unit& unit);

// Frame builders shared with tests of the frames themselves.
Bytes status_reply(const Unit& unit);
Bytes discovery_reply(const Unit& unit);
Bytes setup_record(const Unit& unit);
Bytes ident_text_reply(const Unit& unit);
Bytes cp_block(const Unit& unit);

}  // namespace wexosim::detail
