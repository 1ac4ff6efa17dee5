// TCP connections to a unit, the local interface selection, and closing a
// unit's command channel.
#include "wire/unit_socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "core/deadline.hpp"
#include "core/state.hpp"

namespace wexo {

void Socket::reset() {
    if (fd_ >= 0) closesocket(fd_);
    fd_ = -1;
}

namespace {

int bind_to(int fd, in_addr_t address) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = 0;
    local.sin_addr.s_addr = address;
    return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0 ? 0 : errno;
}

}  // namespace

int probe_local_address(in_addr_t address) {
    Socket probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe.valid()) return errno;
    return bind_to(probe.get(), address);
}

bool bind_local_interface(int fd, Sink sink) {
    if (g_fSet_addr == 0) return true;
    if (const int err = bind_to(fd, g_lanaddr)) {
        sink.set_system_error(err);
        return false;
    }
    return true;
}

int set_socket_timeout(int fd, int option, int ms) {
    // A zero time-out would mean "wait for ever"; a unit given 0 or less
    // still fails fast instead of hanging its caller.
    if (ms <= 0) ms = 1;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof(tv));
}

namespace {

bool set_blocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return wanted == flags || fcntl(fd, F_SETFL, wanted) == 0;
}

}  // namespace

uint32_t connect2(int sock, const sockaddr_in& address, int timeout_ms) {
    if (!set_blocking(sock, false)) return static_cast<uint32_t>(errno) + WEXO_ERR_SYSTEM_BASE;
    uint32_t result = 0;
    if (connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno != EINPROGRESS) {
            result = static_cast<uint32_t>(errno) + WEXO_ERR_SYSTEM_BASE;
        } else {
            const int ready = wait_until(sock, POLLOUT, Deadline::after_ms(timeout_ms));
            if (ready == 0) {
                result = kConnectTimeout;
            } else if (ready < 0) {
                result = static_cast<uint32_t>(errno) + WEXO_ERR_SYSTEM_BASE;
            } else {
                int pending = 0;
                socklen_t len = sizeof(pending);
                if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &pending, &len) != 0) {
                    result = kConnectTimeout;
                } else if (pending != 0) {
                    result = static_cast<uint32_t>(pending) + WEXO_ERR_SYSTEM_BASE;
                }
            }
        }
    }
    set_blocking(sock, true);
    return result;
}

int socketconnect(int* sock, const sockaddr_in& address, int timeout_ms, uint16_t port, Sink sink) {
    sockaddr_in target = address;
    target.sin_family = AF_INET;
    target.sin_port = htons(port);

    Socket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.valid()) {
        sink.set_system_error(errno);
        return 0;
    }
    *sock = s.get();
    if (!bind_local_interface(s.get(), sink)) return 0;
    const uint32_t code = connect2(s.get(), target, timeout_ms);
    if (code != 0) {
        sink.set_error(code);
        return 0;
    }
    // Every connection to a unit is request and reply: without TCP_NODELAY a
    // request sent right after another waits for the peer's delayed ACK.
    const int one = 1;
    if (set_socket_timeout(s.get(), SO_SNDTIMEO, timeout_ms) != 0 ||
        set_socket_timeout(s.get(), SO_RCVTIMEO, timeout_ms) != 0 ||
        setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) != 0) {
        sink.set_system_error(errno);
        return 0;
    }
    s.release();
    return 1;
}

Socket open_unit_connection(const sockaddr_in& address, int timeout_ms, uint16_t port, Sink sink) {
    int fd = -1;
    if (!socketconnect(&fd, address, timeout_ms, port, sink)) return Socket();
    return Socket(fd);
}

int select_network_device(const char* text) {
    if (text == nullptr) {
        g_fSet_addr = 0;
        g_lanaddr = 0;
        return 1;
    }
    // inet_addr's "none" value also stands for 255.255.255.255, which is
    // refused alike.
    const in_addr_t address = inet_addr(text);
    if (address == INADDR_NONE) return 0;
    // An address this host does not have would make every later bind fail;
    // refuse it now, with the reason, and keep the earlier selection.
    if (const int err = probe_local_address(address)) {
        set_system_error(err);
        return 0;
    }
    g_lanaddr = address;
    g_fSet_addr = 1;
    return 1;
}

}  // namespace wexo
