// A simulated unit connected to the library, for the digital I/O tests.
#pragma once

#include <gmock/gmock.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/state.hpp"
#include "session/unit_context.hpp"
#include "wire/unit_socket.hpp"
#include "test_support.hpp"
#include "wexosim.hpp"

namespace diotest {

using wexosim::Bytes;
using wexosim::Endpoint;
using wexosim::Fault;
using wexosim::FaultKind;

// "44 4B 24 24 20 20 C8"
inline std::string hex(const Bytes& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}

inline Fault fault(FaultKind kind, Bytes bytes = {}, Bytes match = {}, std::size_t length = 0) {
    Fault f;
    f.kind = kind;
    f.bytes = std::move(bytes);
    f.match = std::move(match);
    f.length = length;
    return f;
}

// What a call returned and the log lines it wrote.
struct Logged {
    int result;
    std::vector<std::string> lines;
};

// Runs call with the log mask set. Nothing in call may report test failures,
// which would land in the capture.
template <typename Call>
Logged logged(unsigned mask, Call&& call) {
    output_loglevel = mask;
    wexotest::StdoutCapture capture;
    capture.start();
    const int result = call();
    const std::string text = capture.stop();
    output_loglevel = 0;
    return {result, wexotest::StdoutCapture::split_lines(text)};
}

class DioTest : public wexotest::LibraryTest {
protected:
    wexosim::Simulator sim;
    static constexpr int kUnit = 0;  // the simulator's only unit

    void TearDown() override {
        LibraryTest::TearDown();
        sim.stop();
    }

    // Starts one simulated unit and connects it as a record of unit_kind
    // (device index 0) without identification; the record's firmware and pin
    // modes mirror the unit's.
    int connect(wexosim::UnitConfig config, int unit_kind, int timeout_ms = 1000) {
        config.data_port = 0;
        config.udp_port = 0;
        config.pins_port = 0;
        sim.add_unit(config);
        sim.start();
        const int index = add_record(config.ip, sim.port(kUnit, Endpoint::Data), config.model,
                                     unit_kind);
        wexo_device& d = xportset[index];
        d.timeout_ms = timeout_ms;
        d.firm_major = static_cast<uint8_t>(config.firm_major);
        d.firm_minor = static_cast<uint8_t>(config.firm_minor);
        d.cp_port = sim.port(kUnit, Endpoint::Pins);
        const auto modes = sim.cp_modes(kUnit);
        for (int i = 0; i < 3; ++i) d.cp_mode[i] = modes[static_cast<std::size_t>(i)];
        EXPECT_EQ(wexo::open_command_channel(index), 1);
        d.connected = 1;
        // Handshake: the unit has taken the connection, so closes reach it.
        EXPECT_TRUE(sim.wait_accepted(kUnit, Endpoint::Data, 1));
        return index;
    }

    int connect(int model, int unit_kind, int timeout_ms = 1000) {
        wexosim::UnitConfig config;
        config.model = model;
        return connect(config, unit_kind, timeout_ms);
    }

    // Requests the unit received on an endpoint, as hex text.
    std::vector<std::string> frames(Endpoint endpoint = Endpoint::Data) const {
        std::vector<std::string> out;
        for (const Bytes& frame : sim.frames(kUnit, endpoint)) out.push_back(hex(frame));
        return out;
    }
};

}  // namespace diotest
