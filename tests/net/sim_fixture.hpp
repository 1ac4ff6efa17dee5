// Shared setup of the discovery, identification, connection and serial tests:
// a started library plus simulated units on the namespace's addresses.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.hpp"
#include "wexosim.hpp"

namespace nettest {

using wexosim::Endpoint;
using wexosim::UnitConfig;

// A unit with its network module, answering on ip; its board is model 2
// (plain binary identification, answered at once) unless changed.
inline UnitConfig module_unit(const std::string& ip, const std::string& firm_type = "X5") {
    UnitConfig config;
    config.ip = ip;
    config.module = true;
    config.model = 2;
    config.firm_type = firm_type;
    return config;
}

// A board reachable on its data port only (no module on UDP).
inline UnitConfig board_unit(const std::string& ip, uint16_t data_port = 10003, int model = 2) {
    UnitConfig config;
    config.ip = ip;
    config.data_port = data_port;
    config.model = model;
    return config;
}

// A fault on the requests that start with match (count 1 unless changed).
inline wexosim::Fault matching_fault(wexosim::FaultKind kind, wexosim::Bytes match) {
    wexosim::Fault fault;
    fault.kind = kind;
    fault.match = std::move(match);
    return fault;
}

// The same fault with its length (Truncate, Overlong, CloseMidReply).
inline wexosim::Fault matching_fault(wexosim::FaultKind kind, wexosim::Bytes match,
                                     std::size_t length) {
    wexosim::Fault fault = matching_fault(kind, std::move(match));
    fault.length = length;
    return fault;
}

class SimTest : public wexotest::LibraryTest {
protected:
    wexosim::Simulator sim;

    // Adds the units and starts the simulator; returns the unit numbers.
    std::vector<int> start(const std::vector<UnitConfig>& units) {
        std::vector<int> numbers;
        for (const UnitConfig& u : units) numbers.push_back(sim.add_unit(u));
        sim.start();
        return numbers;
    }

    // Index of the record whose address text is ip, or -1.
    static int find_record(const char* ip) {
        for (int i = 0; i < xportcount; ++i) {
            if (std::strncmp(xportset[i].ip_text, ip, sizeof(xportset[i].ip_text)) == 0) return i;
        }
        return -1;
    }

    // Runs body with every log level on and returns the lines it wrote.
    template <typename Body>
    static std::vector<std::string> logged(Body&& body) {
        wexotest::StdoutCapture capture;
        capture.start();
        output_loglevel = 15;
        body();
        output_loglevel = 0;
        const std::string text = capture.stop();
        return wexotest::StdoutCapture::split_lines(text);
    }

    // The simulator runs in this process and holds its own end of every
    // connection, closing it when it sees the library's close. Descriptor
    // counts are compared once it has: this waits (at most 2 s) until unit's
    // endpoint has n open connections.
    bool wait_open_connections(int unit, Endpoint ep, int n) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (sim.open_connections(unit, ep) != n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Waits (bounded) until the unit's channel has input for the library.
    static bool wait_input(int fd, int timeout_ms = 2000) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeout_ms) == 1;
    }
};

}  // namespace nettest
