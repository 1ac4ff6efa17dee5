// A simulated board connected through the public calls, and the same
// request and reply done on a bare socket, for the benchmarks that put the
// library's cost next to the round trip.
#pragma once

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "wexo.h"
#include "wexosim.hpp"

namespace bench {

constexpr const char* kAddress = "127.0.0.2";

// Heap allocations made by the benchmark's own thread (the simulator runs on
// another), counted by the replaced operator new of alloc_count.cpp.
long thread_allocations();

// One simulated board, connected through the public calls (identification
// included) on device index `index`.
class Board {
public:
    explicit Board(int model) {
        wexosim::UnitConfig config;
        config.ip = kAddress;
        config.model = model;
        config.data_port = 0;
        sim_.add_unit(config);
        sim_.start();
        ZuWexoInit();
        port_ = sim_.port(0, wexosim::Endpoint::Data);
        index_ = ZuWexoConnectDirect2(kAddress, 1000, port_);
    }
    ~Board() { ZuWexoEnd(); }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    int index() const { return index_; }
    uint16_t port() const { return port_; }

private:
    wexosim::Simulator sim_;
    uint16_t port_ = 0;
    int index_ = -1;
};

// A plain blocking connection to the board's data port.
inline int bare_connection(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, kAddress, &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The floor: send the request, read the reply (a fixed length, or up to the
// 0xC8 terminator), nothing else.
inline void bare_exchange(benchmark::State& state, int model, std::vector<uint8_t> request,
                   int reply_length) {
    Board board(model);
    const int fd = bare_connection(board.port());
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    uint8_t reply[256];
    for (auto _ : state) {
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        int got = 0;
        for (;;) {
            const ssize_t n = ::recv(fd, reply + got, sizeof reply - static_cast<size_t>(got), 0);
            if (n <= 0) {
                state.SkipWithError("receive failed");
                break;
            }
            got += static_cast<int>(n);
            if (reply_length > 0 ? got >= reply_length : reply[got - 1] == 0xC8) break;
        }
        benchmark::DoNotOptimize(reply);
    }
    ::close(fd);
}

template <typename Call>
void library_call(benchmark::State& state, int model, Call call) {
    Board board(model);
    if (board.index() < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const long allocations = thread_allocations();
    for (auto _ : state) {
        if (call(board.index()) != 1) {
            state.SkipWithError("call failed");
            break;
        }
    }
    state.counters["allocs_per_call"] = benchmark::Counter(
        static_cast<double>(thread_allocations() - allocations), benchmark::Counter::kAvgIterations);
}

}  // namespace bench
