// Opening TCP connections to a unit and binding sockets to the selected
// local interface.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <utility>

#include "core/state.hpp"

namespace wexo {

// Owns one descriptor and closes it on every path.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Socket() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset();

private:
    int fd_ = -1;
};

// Binds fd to the selected local interface (port 0) when one is selected.
// A failed bind fails the socket (code errno + 10000): traffic must not
// leave silently through another interface than the one the caller chose.
bool bind_local_interface(int fd, Sink sink = {});

// 0 when a socket can be bound to address on this host, else the errno.
int probe_local_address(in_addr_t address);

// Non-blocking connect bounded by timeout_ms. Returns 0, or a last-error
// code (errno + 10000; 10110 when the connection did not complete in time).
uint32_t connect2(int sock, const sockaddr_in& address, int timeout_ms);

// Opens one TCP connection to the unit at address, port, with timeout_ms for
// the connect and as send and receive time-outs. The descriptor is stored
// through sock. Returns 1, or 0 with the code set (to sink) and no
// descriptor left open.
int socketconnect(int* sock, const sockaddr_in& address, int timeout_ms, uint16_t port,
                  Sink sink = {});

// The work of ZuWexoSelectNetworkDevice after its entry line.
int select_network_device(const char* text);

// Sets SO_RCVTIMEO or SO_SNDTIMEO to ms; returns 0 or -1 with errno.
int set_socket_timeout(int fd, int option, int ms);

// Opens a short connection to the unit at address, port, owned by the
// returned Socket (invalid, with the code set, on failure). For exchanges
// that open and close their own connection (pins, setup menu).
Socket open_unit_connection(const sockaddr_in& address, int timeout_ms, uint16_t port,
                            Sink sink = {});

}  // namespace wexo
