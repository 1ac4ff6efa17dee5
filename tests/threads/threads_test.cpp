// The concurrency the library allows, run under ThreadSanitizer in CI
// (scripts/ci/tsan.sh): calls on different units from different threads at
// the same time, and a search against connect calls on other units. Any
// race report fails the test binary; the races on the last-error code and
// the log mask, which are process-wide by design, are suppressed in
// tsan.supp. Outside TSan these tests still check every value.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.hpp"
#include "wexosim.hpp"

namespace {

using wexosim::UnitConfig;
using namespace std::chrono_literals;

// A board reached on its data port only; model and inputs as given.
UnitConfig board(int n, int model, uint32_t inputs) {
    UnitConfig config;
    config.ip = "10.200.0." + std::to_string(n);
    config.model = model;
    config.board_id = n % 16;
    config.initial_inputs = inputs;
    return config;
}

// One round of calls on a unit: the first failure or wrong value as text,
// empty when every call returned success with the right value. The last-error
// code is no help here: another thread may have stored its own since.
using Round = std::string (*)(int index, int round, const UnitConfig& unit);

std::string fail(const char* call, int round) {
    return std::string(call) + " failed or returned a wrong value in round " + std::to_string(round);
}

// Outputs written and read back, and the inputs the unit was given.
std::string digital_round(int index, int round, const UnitConfig& unit, unsigned output_mask) {
    const unsigned bits = static_cast<unsigned>(round * 5 + unit.board_id) & output_mask;
    unsigned got = ~0u;
    if (!ZuWexoOutPioAll(index, bits) || !ZuWexoGetOutAll(index, &got) || got != bits)
        return fail("ZuWexoOutPioAll/ZuWexoGetOutAll", round);
    if (!ZuWexoInPioAll(index, &got) || got != unit.initial_inputs) return fail("ZuWexoInPioAll", round);
    return {};
}

// ASCII board: digital I/O, EEPROM bytes and a setting kept in the EEPROM.
std::string ascii_board_round(int index, int round, const UnitConfig& unit) {
    if (auto failed = digital_round(index, round, unit, 0x0f); !failed.empty()) return failed;
    const std::array<unsigned char, 4> written = {static_cast<unsigned char>(round), 0x57,
                                                  static_cast<unsigned char>(index), 0xa5};
    std::array<unsigned char, 4> read{};
    if (!ZuWexoWriteEEPROM(index, 0x100, 4, written.data()) ||
        !ZuWexoReadEEPROM(index, 0x100, 4, read.data()) || read != written)
        return fail("ZuWexoWriteEEPROM/ZuWexoReadEEPROM", round);
    unsigned notice = 99;
    if (!ZuWexoSetNoticeTime(index, round % 5) || !ZuWexoGetNoticeTime(index, &notice) ||
        notice != static_cast<unsigned>(round % 5))
        return fail("ZuWexoSetNoticeTime/ZuWexoGetNoticeTime", round);
    return {};
}

// Binary board: digital I/O and the auto-switching mask.
std::string binary_board_round(int index, int round, const UnitConfig& unit) {
    if (auto failed = digital_round(index, round, unit, 0x1f); !failed.empty()) return failed;
    const unsigned mask = static_cast<unsigned>(round) & 0x1f;
    unsigned got = ~0u;
    if (!ZuWexoSetAutoSwitchingPio(index, static_cast<int>(mask)) ||
        !ZuWexoGetAutoSwitchingPio(index, &got) || got != mask)
        return fail("ZuWexoSetAutoSwitchingPio/ZuWexoGetAutoSwitchingPio", round);
    return {};
}

// Analog inputs: the simulator's constant counts and the range setting.
constexpr std::array<int, 3> kInputCounts = {-1000, 0, 123456};

std::string analog_input_round(int index, int round, const UnitConfig& unit) {
    if (auto failed = digital_round(index, round, unit, 0x03); !failed.empty()) return failed;
    const int channel = round % 3;
    int count = -1, range = -1;
    if (!ZuWexoGetAnalogInput(index, channel, &count) || count != kInputCounts[channel])
        return fail("ZuWexoGetAnalogInput", round);
    if (!ZuWexoSetAnalogInputRange(index, channel, round % 6) ||
        !ZuWexoGetAnalogInputRange(index, channel, &range) || range != round % 6)
        return fail("ZuWexoSetAnalogInputRange/ZuWexoGetAnalogInputRange", round);
    return {};
}

// Analog outputs written and read back.
std::string analog_output_round(int index, int round, const UnitConfig& unit) {
    unsigned inputs = ~0u;
    if (!ZuWexoInPioAll(index, &inputs) || inputs != unit.initial_inputs) return fail("ZuWexoInPioAll", round);
    const int channel = round % 2, raw = round * 97 - 1000;
    int mode = -1, got = 0;
    if (!ZuWexoSetAnalogOutput(index, channel, 0, raw) ||
        !ZuWexoGetAnalogOutput(index, channel, &mode, &got) || mode != 0 || got != raw)
        return fail("ZuWexoSetAnalogOutput/ZuWexoGetAnalogOutput", round);
    return {};
}

struct Hammered {
    UnitConfig unit;
    Round round;
};

class ThreadsTest : public wexotest::LibraryTest {
protected:
    wexosim::Simulator sim;
};

// Each thread connects its own unit directly, runs rounds of calls of
// several areas on it, and closes it, while the other threads do the same
// on theirs.
TEST_F(ThreadsTest, ThreadsDriveTheirOwnUnitsAtTheSameTime) {
    const std::vector<Hammered> units = {
        {board(2, 17, 0x5), ascii_board_round},    {board(3, 17, 0xa), ascii_board_round},
        {board(4, 4, 0x2), binary_board_round},    {board(5, 42, 0x6), analog_input_round},
        {board(6, 41, 0x3), analog_output_round},
    };
    for (const Hammered& h : units) sim.add_unit(h.unit);
    sim.start();
    for (int channel = 0; channel < 3; ++channel) {
        sim.update(3, [&](wexosim::UnitState& s) { s.analog.inputs[channel].count = kInputCounts[channel]; });
    }

    constexpr int kRounds = 20;
    std::vector<std::string> failures(units.size());
    std::vector<std::thread> threads;
    for (std::size_t u = 0; u < units.size(); ++u) {
        threads.emplace_back([&, u] {
            const Hammered& h = units[u];
            const int index = ZuWexoConnectDirect2(h.unit.ip.c_str(), 1000, 10003);
            if (index < 0) {
                failures[u] = "ZuWexoConnectDirect2 failed";
                return;
            }
            for (int r = 0; r < kRounds && failures[u].empty(); ++r) failures[u] = h.round(index, r, h.unit);
            if (failures[u].empty() && !ZuWexoClose(index)) failures[u] = "ZuWexoClose failed";
        });
    }
    for (std::thread& t : threads) t.join();
    for (std::size_t u = 0; u < units.size(); ++u) EXPECT_EQ(failures[u], "") << units[u].unit.ip;
    // Each unit was left with what its own thread wrote last.
    EXPECT_EQ(sim.outputs(0), static_cast<uint32_t>((kRounds - 1) * 5 + units[0].unit.board_id) & 0x0fu);
}

// Searches run while another thread adds units by address and connects
// found ones: the library mutex keeps the table consistent. Every search
// finds the two module units whatever the connect calls did, and every
// direct connection succeeds.
TEST_F(ThreadsTest, SearchRunsAgainstConnectCallsOnOtherUnits) {
    for (int n : {2, 3}) {
        UnitConfig module = board(n, 2, 0);
        module.module = true;
        sim.add_unit(module);
    }
    for (int n : {4, 5}) sim.add_unit(board(n, 4, 0));
    sim.start();

    constexpr int kSearches = 6;
    std::array<int, kSearches> found{};
    std::thread searcher([&] {
        for (int& count : found) count = ZuWexoSearch(50);
    });
    std::vector<int> direct, by_address;
    for (int i = 0; i < kSearches; ++i) {
        direct.push_back(ZuWexoConnectDirect2(i % 2 ? "10.200.0.4" : "10.200.0.5", 1000, 10003));
        // Before the first search the unit is unknown (-1); later it may
        // already be connected (-1) or be connected now.
        by_address.push_back(ZuWexoConnectByIpAddress("10.200.0.3"));
    }
    searcher.join();
    for (int count : found) EXPECT_EQ(count, 2);
    for (int index : direct) EXPECT_GE(index, 0);
    for (int index : by_address) EXPECT_GE(index, -1);
    EXPECT_EQ(ZuWexoSearch(50), 2);
}

// ---- the search's helper threads, and ZuWexoEnd during a search or connect

// Module units 10.200.0.2.. whose identification replies come 400 ms late: a
// search or connect call on them is still running 150 ms after it began.
void add_slow_modules(wexosim::Simulator& sim, int count) {
    for (int n = 2; n < 2 + count; ++n) {
        UnitConfig module = board(n, 2, 0);
        module.module = true;
        sim.add_unit(module);
    }
    sim.start();
    wexosim::Fault late;
    late.delay = wexosim::Millis{400};
    late.count = wexosim::kForever;
    for (int u = 0; u < count; ++u) sim.inject(u, wexosim::Endpoint::Data, late);
}

std::set<pid_t> thread_ids() {
    std::set<pid_t> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ids.insert(std::stoi(entry->d_name));
        }
        closedir(dir);
    }
    return ids;
}

// The signals thread tid blocks, bit n-1 for signal n; nothing once it has ended.
std::optional<unsigned long long> blocked_signals(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    }
    return std::nullopt;
}

// A caller's signal must never run its handler on a helper of the library:
// the search's workers block every signal, and the caller's own mask (here
// SIGUSR2 blocked) is as it was when the search returns.
TEST_F(ThreadsTest, SearchWorkersTakeNoSignals) {
    add_slow_modules(sim, 3);
    const std::set<pid_t> before = thread_ids();
    std::atomic<pid_t> searcher{0};
    sigset_t after;
    std::thread caller([&] {
        sigset_t usr2;
        sigemptyset(&usr2);
        sigaddset(&usr2, SIGUSR2);
        pthread_sigmask(SIG_SETMASK, &usr2, nullptr);
        searcher = gettid();
        EXPECT_EQ(ZuWexoSearch(50), 3);
        pthread_sigmask(SIG_SETMASK, nullptr, &after);
    });
    // The workers, caught while the identifications wait.
    std::vector<unsigned long long> worker_masks;
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (worker_masks.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
        if (searcher == 0) continue;
        for (pid_t tid : thread_ids()) {
            if (before.count(tid) != 0 || tid == searcher) continue;
            if (const auto mask = blocked_signals(tid)) worker_masks.push_back(*mask);
        }
    }
    caller.join();
    ASSERT_FALSE(worker_masks.empty());
    unsigned long long caller_signals = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD, SIGPIPE}) {
        caller_signals |= 1ull << (sig - 1);
    }
    for (unsigned long long mask : worker_masks) EXPECT_EQ(mask & caller_signals, caller_signals);
    EXPECT_EQ(sigismember(&after, SIGUSR2), 1);
    EXPECT_EQ(sigismember(&after, SIGINT), 0);
}

// ZuWexoEnd on another thread while a search or a connect call runs (a
// shutdown): once End and the call have returned, no record is counted or
// connected and no descriptor is left open.
TEST_F(ThreadsTest, EndDuringSearchOrConnectLeavesNothing) {
    add_slow_modules(sim, 2);
    const int fds = wexotest::open_fd_count();
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"search", [] { return ZuWexoSearch(50); }},
        {"connect", [] { return ZuWexoConnectDirect2("10.200.0.2", 1000, 10003); }},
    };
    for (const auto& [name, call] : calls) {
        ZuWexoInit();
        const std::function<int()>& run = call;
        std::thread running([&run] { run(); });
        std::this_thread::sleep_for(150ms);
        ZuWexoEnd();
        running.join();
        EXPECT_EQ(xportcount, 0) << name;
        EXPECT_EQ(xportsearchcount, 0) << name;
        int connected = 0;
        for (const wexo_device& rec : xportset) connected += rec.connected != 0;
        EXPECT_EQ(connected, 0) << name;
        // The simulator closes its end of a closed connection a moment later.
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (wexotest::open_fd_count() != fds && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(wexotest::open_fd_count(), fds) << name;
    }
}

// A thread cancelled while its search runs: the search ends as it would have
// (cancelled inside it, the caller's thread would leave the workers running
// on its stack, or end the process), and the thread ends at its next
// cancellation point.
TEST_F(ThreadsTest, CancelledCallerFinishesItsCallFirst) {
    add_slow_modules(sim, 2);
    std::atomic<int> found{-2};
    pthread_t caller;
    ASSERT_EQ(pthread_create(&caller, nullptr, [](void* out) -> void* {
        static_cast<std::atomic<int>*>(out)->store(ZuWexoSearch(50));
        pthread_testcancel();
        return nullptr;
    }, &found), 0);
    std::this_thread::sleep_for(150ms);  // the identifications are waiting
    pthread_cancel(caller);
    void* status = nullptr;
    pthread_join(caller, &status);
    EXPECT_EQ(status, PTHREAD_CANCELED);
    EXPECT_EQ(found, 2);
}

}  // namespace
