// Soak driver: drives every unit of a running wexo-sim from several threads
// for a given time while the simulator injects faults and restarts units,
// then reports the calls made, the failures by last-error code, open
// descriptors and memory before and after. Fails (exit status 1) when a call
// returned success with a wrong value, or when descriptors were left open.
// Uses the public API and the simulator's control port only; scripts/soak.sh
// starts the simulator and runs this.
//
//   wexo-soak CONTROL-PORT SECONDS [THREADS] [FAULTS/S] [RESTARTS/S]
//
// Units of model 17 (digital I/O, EEPROM, a setting kept in the EEPROM) and
// model 42 (digital I/O, analog inputs and their ranges) are driven; others
// are left alone.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "wexo.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Short, so that a reply that never comes costs little of the run.
constexpr int kUnitTimeoutMs = 150;

// One line-based connection to the simulator's control port.
class Control {
public:
    explicit Control(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Control() {
        if (fd_ >= 0) close(fd_);
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    bool valid() const { return fd_ >= 0; }

    // Sends one command and returns its first answer line ("" on failure).
    std::string command(const std::string& line) {
        const std::string text = line + "\n";
        if (send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return "";
        return read_line();
    }

    // The next line, waited for at most 5 s.
    std::string read_line() {
        const auto deadline = Clock::now() + 5s;
        for (;;) {
            if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) return "";
            char chunk[4096];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return "";
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_;
    std::string buffer_;
};

struct Unit {
    int number = 0;
    std::string ip;
    int model = 0;
    int data_port = 0;
    unsigned inputs = 0;
    int index = -1;
};

// The value of key=... in a "unit N ip=... model=..." line.
std::string field(const std::string& line, const std::string& key) {
    const auto at = line.find(" " + key + "=");
    if (at == std::string::npos) return "";
    const auto begin = at + key.size() + 2;
    return line.substr(begin, line.find(' ', begin) - begin);
}

// Counts of one thread, merged at the end.
struct Tally {
    long calls = 0;
    long failed_rounds = 0;
    long reconnects = 0;
    std::map<int, long> failures;  // last-error code -> calls
    std::vector<std::string> wrong;

    // Counts one call; on failure notes the last-error code. The code is a
    // process-wide value: another thread's call may have replaced it.
    bool ok(int result) {
        ++calls;
        if (result > 0) return true;
        ++failures[ZuWexoGetLastError()];
        return false;
    }
    // A call succeeded but gave a value the unit does not hold.
    bool wrong_value(const Unit& u, const char* what, long got, long expected) {
        std::ostringstream text;
        text << u.ip << ": " << what << " gave " << got << ", the unit holds " << expected;
        wrong.push_back(text.str());
        return false;
    }
};

// Counts the simulator keeps on the analog inputs of unit number.
int analog_count(int number, int channel) { return number * 1000 + channel - 50000; }

// Writes the outputs and reads them back, and reads the inputs. false when
// a call failed or a value was wrong.
bool digital_round(Unit& u, unsigned round, unsigned output_mask, Tally& t) {
    const unsigned bits = (round * 7 + static_cast<unsigned>(u.number)) & output_mask;
    unsigned got = 0;
    if (!t.ok(ZuWexoOutPioAll(u.index, bits)) || !t.ok(ZuWexoGetOutAll(u.index, &got))) return false;
    if (got != bits) return t.wrong_value(u, "ZuWexoGetOutAll", got, bits);
    if (!t.ok(ZuWexoInPioAll(u.index, &got))) return false;
    if (got != u.inputs) return t.wrong_value(u, "ZuWexoInPioAll", got, u.inputs);
    return true;
}

bool ascii_board_round(Unit& u, unsigned round, Tally& t) {
    if (!digital_round(u, round, 0x0f, t)) return false;
    const std::array<unsigned char, 4> written = {static_cast<unsigned char>(round), 0x57,
                                                  static_cast<unsigned char>(u.number), 0xa5};
    std::array<unsigned char, 4> read{};
    if (!t.ok(ZuWexoWriteEEPROM(u.index, 0x200, 4, written.data())) ||
        !t.ok(ZuWexoReadEEPROM(u.index, 0x200, 4, read.data())))
        return false;
    if (read != written) return t.wrong_value(u, "ZuWexoReadEEPROM (first byte)", read[0], written[0]);
    unsigned notice = 0;
    const unsigned set = round % 5;
    if (!t.ok(ZuWexoSetNoticeTime(u.index, static_cast<int>(set))) || !t.ok(ZuWexoGetNoticeTime(u.index, &notice)))
        return false;
    if (notice != set) return t.wrong_value(u, "ZuWexoGetNoticeTime", notice, set);
    return true;
}

bool analog_board_round(Unit& u, unsigned round, Tally& t) {
    if (!digital_round(u, round, 0x03, t)) return false;
    const int channel = static_cast<int>(round % 3);
    int count = 0, range = 0;
    if (!t.ok(ZuWexoGetAnalogInput(u.index, channel, &count))) return false;
    if (count != analog_count(u.number, channel))
        return t.wrong_value(u, "ZuWexoGetAnalogInput", count, analog_count(u.number, channel));
    const int set = static_cast<int>(round % 6);
    if (!t.ok(ZuWexoSetAnalogInputRange(u.index, channel, set)) ||
        !t.ok(ZuWexoGetAnalogInputRange(u.index, channel, &range)))
        return false;
    if (range != set) return t.wrong_value(u, "ZuWexoGetAnalogInputRange", range, set);
    return true;
}

// Opens the unit's channel again after a failure that may have cost it
// (a closed connection, a restart); gives up at the deadline.
bool reconnect(Unit& u, Clock::time_point give_up, Tally& t) {
    ZuWexoClose(u.index);
    ++t.reconnects;
    while (Clock::now() < give_up) {
        if (ZuWexoConnect(u.index) >= 0) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// Drives the units of one thread round after round until the end.
void drive(std::vector<Unit*> units, Clock::time_point end, Tally& t) {
    std::vector<int> failed_in_a_row(units.size(), 0);
    for (unsigned round = 0; Clock::now() < end; ++round) {
        for (std::size_t i = 0; i < units.size() && Clock::now() < end; ++i) {
            Unit& u = *units[i];
            const bool ok = u.model == 17 ? ascii_board_round(u, round, t) : analog_board_round(u, round, t);
            if (ok) {
                failed_in_a_row[i] = 0;
                continue;
            }
            ++t.failed_rounds;
            // A reply that did not come leaves the channel usable; anything
            // else, or a second failure, gets a fresh connection.
            const int code = ZuWexoGetLastError();
            if (code != 10000 + EAGAIN || ++failed_in_a_row[i] > 1) {
                failed_in_a_row[i] = 0;
                reconnect(u, end + 10s, t);
            }
        }
    }
}

// Injects faults and restarts at the given rates until the end.
long disturb(Control& control, const std::vector<Unit>& units, double faults_per_s, double restarts_per_s,
             Clock::time_point end, long* restarts) {
    static const char* const kFaults[] = {
        "silence", "close", "truncate", "wrongecho", "garbage", "overlong length=100",
        "split piece=1 pause=2", "stale", "drip pause=3 length=10", "foreign",
    };
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick_unit(0, units.size() - 1);
    std::uniform_int_distribution<std::size_t> pick_fault(0, std::size(kFaults) - 1);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    const double events_per_s = faults_per_s + restarts_per_s;
    long faults = 0;
    if (events_per_s <= 0) {
        std::this_thread::sleep_until(end);
        return 0;
    }
    const auto step = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / events_per_s));
    for (auto next = Clock::now() + step; next < end; next += step) {
        std::this_thread::sleep_until(next);
        const Unit& u = units[pick_unit(random)];
        const std::string number = std::to_string(u.number);
        if (coin(random) * events_per_s < restarts_per_s) {
            if (control.command("restart " + number + " 200").rfind("ok", 0) == 0) ++*restarts;
        } else if (control.command("fault " + number + " data " + kFaults[pick_fault(random)]).rfind("ok", 0) == 0) {
            ++faults;
        }
    }
    return faults;
}

// Descriptors this process holds open.
int open_descriptors() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
        closedir(dir);
        --n;  // the directory stream's own
    }
    return n;
}

// A line of /proc/self/status ("VmRSS", "VmHWM") in kB.
long status_kb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

// The simulator's units, with their inputs and the analog counts set.
std::vector<Unit> units_of(Control& control) {
    std::vector<Unit> units;
    const std::string head = control.command("units");
    const int n = head.rfind("ok ", 0) == 0 ? std::atoi(head.c_str() + 3) : 0;
    for (int i = 0; i < n; ++i) {
        const std::string line = control.read_line();
        Unit u;
        u.number = i;
        u.ip = field(line, "ip");
        u.model = std::atoi(field(line, "model").c_str());
        u.data_port = std::atoi(field(line, "data").c_str());
        if (u.model == 17 || u.model == 42) units.push_back(u);
    }
    for (Unit& u : units) {
        const std::string n_text = std::to_string(u.number);
        u.inputs = static_cast<unsigned>(std::strtoul(control.command("inputs " + n_text).c_str() + 3, nullptr, 0));
        for (int channel = 0; u.model == 42 && channel < 3; ++channel) {
            control.command("ai " + n_text + " " + std::to_string(channel) + " " +
                            std::to_string(analog_count(u.number, channel)));
        }
    }
    return units;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CONTROL-PORT SECONDS [THREADS] [FAULTS/S] [RESTARTS/S]\n", argv[0]);
        return 2;
    }
    const int seconds = std::atoi(argv[2]);
    const int thread_count = argc > 3 ? std::max(1, std::atoi(argv[3])) : 8;
    const double faults_per_s = argc > 4 ? std::atof(argv[4]) : 2;
    const double restarts_per_s = argc > 5 ? std::atof(argv[5]) : 0.2;

    Control control(std::atoi(argv[1]));
    if (!control.valid()) {
        std::fprintf(stderr, "soak: no simulator control port at 127.0.0.1:%s\n", argv[1]);
        return 2;
    }
    std::vector<Unit> units = units_of(control);
    if (units.empty()) {
        std::fprintf(stderr, "soak: the simulator has no unit of model 17 or 42\n");
        return 2;
    }

    ZuWexoInit();
    const int fds_before = open_descriptors();
    for (Unit& u : units) {
        u.index = ZuWexoConnectDirect2(u.ip.c_str(), kUnitTimeoutMs, u.data_port);
        if (u.index < 0) {
            std::fprintf(stderr, "soak: cannot connect %s: code %d\n", u.ip.c_str(), ZuWexoGetLastError());
            return 1;
        }
    }
    const int fds_connected = open_descriptors();
    const long rss_before = status_kb("VmRSS"), hwm_before = status_kb("VmHWM");

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    std::vector<Tally> tallies(static_cast<std::size_t>(thread_count));
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        std::vector<Unit*> own;
        for (std::size_t i = static_cast<std::size_t>(t); i < units.size(); i += static_cast<std::size_t>(thread_count))
            own.push_back(&units[i]);
        threads.emplace_back(drive, std::move(own), end, std::ref(tallies[static_cast<std::size_t>(t)]));
    }
    long restarts = 0;
    const long faults = disturb(control, units, faults_per_s, restarts_per_s, end, &restarts);
    for (std::thread& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    // Every unit connected again, as at the start, for the descriptor count.
    Tally total;
    for (const Unit& u : units) control.command("clear-faults " + std::to_string(u.number));
    for (Unit& u : units) {
        unsigned bits = 0;
        if (ZuWexoGetOutAll(u.index, &bits) <= 0) reconnect(u, Clock::now() + 10s, total);
    }
    const int fds_at_end = open_descriptors();
    const long rss_after = status_kb("VmRSS"), hwm_after = status_kb("VmHWM");
    ZuWexoEnd();
    const int fds_after = open_descriptors();

    for (const Tally& t : tallies) {
        total.calls += t.calls;
        total.failed_rounds += t.failed_rounds;
        total.reconnects += t.reconnects;
        for (const auto& [code, n] : t.failures) total.failures[code] += n;
        total.wrong.insert(total.wrong.end(), t.wrong.begin(), t.wrong.end());
    }
    long failures = 0;
    std::string by_code;
    for (const auto& [code, n] : total.failures) {
        failures += n;
        by_code += " " + std::to_string(code) + " x" + std::to_string(n);
    }
    std::printf("soak: %zu units, %d threads, %.0f s, %ld faults and %ld restarts injected\n", units.size(),
                thread_count, elapsed, faults, restarts);
    std::printf("calls         %ld (%.0f/s)\n", total.calls, static_cast<double>(total.calls) / elapsed);
    std::printf("failures      %ld (last-error code x calls:%s)\n", failures, by_code.c_str());
    std::printf("failed rounds %ld, reconnects %ld\n", total.failed_rounds, total.reconnects);
    std::printf("wrong values  %zu\n", total.wrong.size());
    for (std::size_t i = 0; i < total.wrong.size() && i < 10; ++i) std::printf("  %s\n", total.wrong[i].c_str());
    std::printf("descriptors   %d before, %d connected, %d connected at the end, %d after ZuWexoEnd\n", fds_before,
                fds_connected, fds_at_end, fds_after);
    std::printf("memory        VmRSS %ld kB -> %ld kB, VmHWM %ld kB -> %ld kB\n", rss_before, rss_after, hwm_before,
                hwm_after);
    const bool leaked = fds_after > fds_before || fds_at_end > fds_connected;
    if (leaked) std::printf("soak: descriptors grew\n");
    return total.wrong.empty() && !leaked ? 0 : 1;
}
