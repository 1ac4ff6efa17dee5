// Raw socket clients for the simulator's tests: every wait has a deadline.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "wexosim.hpp"

namespace simtest {

using namespace std::chrono_literals;
using wexosim::Bytes;
using wexosim::Endpoint;
using wexosim::FaultKind;
using wexosim::Simulator;
using wexosim::UnitConfig;

inline sockaddr_in address(const std::string& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

// A plain TCP client with deadlines on every wait.
class Client {
public:
    Client(const std::string& ip, std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a = address(ip, port);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("connect failed");
    }
    ~Client() { ::close(fd_); }
    void send(const Bytes& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }
    void send(const std::string& s) { send(Bytes(s.begin(), s.end())); }

    // Whatever one receive gets within the deadline (empty: nothing; eof set on close).
    Bytes some(std::chrono::milliseconds deadline = 1000ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(deadline.count())) != 1) return {};
        std::uint8_t buf[1024];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            eof = true;
            return {};
        }
        return Bytes(buf, buf + n);
    }
    // Exactly n bytes, or fewer when the deadline passes first.
    Bytes exactly(std::size_t n, std::chrono::milliseconds deadline = 1000ms) {
        Bytes out;
        auto end = std::chrono::steady_clock::now() + deadline;
        while (out.size() < n && !eof) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left <= 0ms) break;
            Bytes b = some(left);
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    }
    bool eof = false;

private:
    int fd_;
};

inline Bytes ascii(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0xC8);
    return b;
}

// An ASCII request: the letters, the parameter bytes, 0xC8.
inline Bytes frame(const std::string& letters, const Bytes& params = {}) {
    Bytes b(letters.begin(), letters.end());
    b.insert(b.end(), params.begin(), params.end());
    b.push_back(0xC8);
    return b;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline UnitConfig board(int model, int id = 0, const std::string& ip = "127.0.0.2") {
    UnitConfig c;
    c.ip = ip;
    c.model = model;
    c.board_id = id;
    c.data_port = 0;
    return c;
}

inline UnitConfig with_module(UnitConfig c) {
    c.module = true;
    c.udp_port = 0;
    c.pins_port = 0;
    return c;
}

inline bool in_namespace() { return std::getenv("WEXO_IN_NETNS") != nullptr; }

// Non-blocking connect: 0 when connected, else the error (ETIMEDOUT after the deadline).
inline int try_connect(const std::string& ip, std::uint16_t port, int deadline_ms) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = address(ip, port);
    int err = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, deadline_ms) == 1) {
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            } else {
                err = ETIMEDOUT;
            }
        }
    }
    ::close(fd);
    return err;
}

// One query to ip:port, the reply (empty after 500 ms without one) and its source.
inline Bytes query(const std::string& ip, std::uint16_t port, const Bytes& q, sockaddr_in* from = nullptr) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = address(ip, port);
    ::sendto(fd, q.data(), q.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    pollfd p{fd, POLLIN, 0};
    Bytes out;
    if (::poll(&p, 1, 500) == 1) {
        std::uint8_t buf[512];
        sockaddr_in src{};
        socklen_t len = sizeof src;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
        if (n > 0) out.assign(buf, buf + n);
        if (from) *from = src;
    }
    ::close(fd);
    return out;
}

// A UDP client socket: datagrams to any unit, replies with their source.
class Udp {
public:
    Udp() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Udp() { ::close(fd_); }
    void send(const std::string& ip, std::uint16_t port, const Bytes& b) {
        sockaddr_in a = address(ip, port);
        ASSERT_EQ(::sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a), ssize_t(b.size()));
    }
    struct Reply {
        Bytes bytes;
        std::string ip;
        std::uint16_t port = 0;
    };
    // The next datagram, or an empty reply after the deadline.
    Reply next(std::chrono::milliseconds deadline = 1000ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(deadline.count())) != 1) return {};
        std::uint8_t buf[512];
        sockaddr_in src{};
        socklen_t len = sizeof src;
        ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
        if (n < 0) return {};
        return {Bytes(buf, buf + n), inet_ntoa(src.sin_addr), ntohs(src.sin_port)};
    }

private:
    int fd_;
};

}  // namespace simtest
