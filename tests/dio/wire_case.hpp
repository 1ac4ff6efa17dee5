// A table row per call: the board's replies given byte for byte, then the
// requests on the wire, what the call returned and stored, the code and the
// log lines. Shared by the analog and the pulse and settings tests.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "dio_fixture.hpp"

namespace diotest {

constexpr double kUntouchedValue = -999.0;
constexpr long long kUntouchedWide = -0x5555;

// What a call reports: up to four ints, one double and one 64-bit value.
struct Out {
    int a = 0xAAAA, b = 0xAAAA, c = 0xAAAA, d = 0xAAAA;
    double value = kUntouchedValue;
    long long wide = kUntouchedWide;
    bool operator==(const Out&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Out& o) {
    return os << o.a << " " << o.b << " " << o.c << " " << o.d << " " << o.value << " " << o.wide;
}
inline Out with(int a, int b = 0xAAAA, int c = 0xAAAA, int d = 0xAAAA,
                double value = kUntouchedValue) {
    return {a, b, c, d, value, kUntouchedWide};
}
inline Out wide(long long v) { return {.wide = v}; }

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
// An ASCII reply: letters, then the given bytes, then 0xC8.
inline Bytes reply(const std::string& letters_and_payload) {
    Bytes b = text(letters_and_payload);
    b.push_back(0xC8);
    return b;
}

// A binary command the board answers with fixed bytes.
struct Binary {
    uint8_t first;
    std::size_t length;
    Bytes reply;
};

using Call = std::function<int(Out&)>;

struct Case {
    const char* name;
    int model;
    int kind = 6;
    std::vector<Binary> binaries{};
    std::vector<std::pair<std::string, Bytes>> replies{};  // (request letters, reply) in order
    Call call;
    std::vector<std::string> frames{};
    int result = 1;
    Out out{};
    int code = 0;
    unsigned mask = 15;
    std::vector<std::string> lines{};  // at `mask`; empty: not checked
    FaultKind fault = FaultKind::None;  // applied to the first request instead of a reply
    int timeout_ms = 1000;
};
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
inline std::string wire_case_name(const testing::TestParamInfo<Case>& param) { return param.param.name; }

class WireTest : public DioTest, public testing::WithParamInterface<Case> {
protected:
    void run(const Case& c) {
        ASSERT_EQ(connect(c.model, c.kind, c.timeout_ms), 0);
        for (const auto& [letters, bytes] : c.replies) {
            sim.inject(kUnit, Endpoint::Data, fault(FaultKind::Raw, bytes, text(letters)));
        }
        for (const Binary& b : c.binaries) {
            const Bytes answer = b.reply;
            sim.set_binary_command(kUnit, b.first, b.length, [answer](const Bytes&) { return answer; });
        }
        if (c.fault != FaultKind::None) sim.inject(kUnit, Endpoint::Data, fault(c.fault));

        Out out;
        const Logged log = logged(c.lines.empty() ? 0 : c.mask, [&] { return c.call(out); });
        EXPECT_EQ(log.result, c.result);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(static_cast<int>(error), c.code);
        EXPECT_EQ(frames(), c.frames);
        if (!c.lines.empty()) {
            EXPECT_EQ(log.lines, c.lines);
        }
    }
};

}  // namespace diotest
