// End-to-end tests of the wexo command-line tool against the simulator.
//
// The simulator runs in a private network namespace of its own (started
// through tests/support/netns-run.sh); every wexo run joins that namespace
// with setns(), so search broadcasts reach the simulated units and nothing
// else. Binaries come from WEXO_CLI and WEXO_SIM, or default to the build
// tree next to this test binary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string dir_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string self_dir() {
    char buf[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? dir_of(std::string(buf, static_cast<std::size_t>(n))) : ".";
}

std::string binary(const char* env, const char* relative) {
    const char* v = std::getenv(env);
    return (v && *v) ? v : self_dir() + "/" + relative;
}

std::string cli_path() { return binary("WEXO_CLI", "../tools/wexo"); }
std::string sim_path() { return binary("WEXO_SIM", "../sim/wexo-sim"); }
// The namespace script sits beside this file's folder in the source tree.
std::string netns_script() { return dir_of(dir_of(__FILE__)) + "/support/netns-run.sh"; }

std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads from fd into buffer until a newline is there or the deadline passes.
std::optional<std::string> read_line(int fd, std::string& buffer, Clock::time_point deadline) {
    for (;;) {
        const auto nl = buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            return line;
        }
        pollfd p{fd, POLLIN, 0};
        const int left = ms_left(deadline);
        if (left == 0 || poll(&p, 1, left) <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

// Waits for pid to end within the deadline; kills it by its id otherwise.
int reap(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        poll(nullptr, 0, 10);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// wexo-sim in a namespace of its own, driven through its standard input.
class Simulator {
public:
    explicit Simulator(const std::vector<std::string>& units) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<std::string> args = {netns_script(), sim_path()};
        for (const auto& u : units) {
            args.push_back("--unit");
            args.push_back(u);
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            unsetenv("WEXO_IN_NETNS"); // a fresh namespace even when the test runs in one
            auto argv = argv_of(args);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_sim_ = in[1];
        from_sim_ = out[0];
        const auto deadline = Clock::now() + 10s;
        while (auto line = read_line(from_sim_, buffer_, deadline)) {
            if (*line == "ready") {
                ready_ = true;
                break;
            }
        }
        if (ready_) netns_ = open(("/proc/" + std::to_string(pid_) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    }

    ~Simulator() {
        if (to_sim_ >= 0) close(to_sim_); // end of input stops the simulator
        if (pid_ > 0) reap(pid_, Clock::now() + 5s);
        if (from_sim_ >= 0) close(from_sim_);
        if (netns_ >= 0) close(netns_);
    }

    bool ready() const { return ready_ && netns_ >= 0; }
    int netns() const { return netns_; }

    // One control command; returns its "ok ..." or "error ..." line.
    std::string command(const std::string& line) {
        const std::string text = line + "\n";
        if (write(to_sim_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "write failed";
        return read_line(from_sim_, buffer_, Clock::now() + 5s).value_or("no reply");
    }

    // The request frames unit u received on endpoint ep ("55 55", ...).
    std::vector<std::string> frames(int u, const std::string& ep) {
        const std::string head = command("log " + std::to_string(u) + " " + ep);
        std::vector<std::string> out;
        if (head.rfind("ok ", 0) != 0) return {"bad answer: " + head};
        for (int n = std::stoi(head.substr(3)); n > 0; --n)
            out.push_back(read_line(from_sim_, buffer_, Clock::now() + 5s).value_or("no reply").substr(6));
        return out;
    }

private:
    pid_t pid_ = -1;
    int to_sim_ = -1;
    int from_sim_ = -1;
    int netns_ = -1;
    bool ready_ = false;
    std::string buffer_;
};

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// One run of wexo inside the simulator's namespace.
class CliRun {
public:
    CliRun(int netns, std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), cli_path());
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            if (netns >= 0 && setns(netns, CLONE_NEWNET) != 0) _exit(126);
            auto argv = argv_of(args);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~CliRun() { finish(); }

    void interrupt() const {
        if (pid_ > 0) kill(pid_, SIGINT);
    }

    std::optional<std::string> line(std::chrono::milliseconds wait) {
        return read_line(out_, pending_, Clock::now() + wait);
    }

    // Collects the rest of both streams and the exit status.
    Result finish() {
        if (pid_ < 0) return result_;
        const auto deadline = Clock::now() + 30s;
        std::string* sink[2] = {&pending_, &result_.err};
        int fds[2] = {out_, err_};
        while ((fds[0] >= 0 || fds[1] >= 0) && ms_left(deadline) > 0) {
            pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
            if (poll(p, 2, ms_left(deadline)) <= 0) break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i] < 0 || p[i].revents == 0) continue;
                char chunk[4096];
                const ssize_t n = read(fds[i], chunk, sizeof chunk);
                if (n > 0) {
                    sink[i]->append(chunk, static_cast<std::size_t>(n));
                } else {
                    close(fds[i]);
                    fds[i] = -1;
                }
            }
        }
        for (int fd : fds)
            if (fd >= 0) close(fd);
        result_.out = pending_;
        result_.status = reap(pid_, deadline);
        pid_ = -1;
        return result_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string pending_;
    Result result_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Three units of different models: an ASCII board (17, identified in the
// search on port 10003), a binary output board (3) and an analog board (40)
// on another data port, so the search leaves it unidentified.
class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim_ = new Simulator({"ip=10.200.0.2,model=17,id=3,module=on",
                              "ip=10.200.0.3,model=3,id=1,module=on",
                              "ip=10.200.0.4,model=40,id=5,module=on,port=10010"});
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(sim_->ready()) << "wexo-sim did not start: " << sim_path(); }

    // A short time-out keeps the ASCII board's silence to the binary
    // identification short.
    static Result wexo(std::vector<std::string> args) {
        args.insert(args.begin(), {"--timeout", "200"});
        return CliRun(sim_->netns(), std::move(args)).finish();
    }

    static void clear_logs() {
        for (int u = 0; u < 3; ++u) ASSERT_EQ(sim_->command("clear-log " + std::to_string(u)), "ok");
    }

    static Simulator* sim_;
};

Simulator* CliTest::sim_ = nullptr;

TEST_F(CliTest, SearchListsEveryUnitAsTableAndJson) {
    const Result table = wexo({"search", "--identify"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_TRUE(contains(table.out, "IP")) << table.out;
    EXPECT_TRUE(contains(table.out, "DATA PORT")) << table.out;
    // Rows: index, IP, MAC, firmware and type, board ID, model, data port.
    EXPECT_TRUE(contains(table.out, "10.200.0.2  00:20:4a:00:00:02  6.1 X6    3   17     10003")) << table.out;
    EXPECT_TRUE(contains(table.out, "10.200.0.3  00:20:4a:00:00:03  6.1 X6    1   3      10003")) << table.out;
    EXPECT_TRUE(contains(table.out, "10.200.0.4  00:20:4a:00:00:04  6.1 X6    5   40     10010")) << table.out;

    // The search alone identifies nobody: null.
    const Result json = wexo({"search", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_TRUE(contains(json.out, R"js({"index":0,"ip":"10.200.0.2","mac":"00:20:4a:00:00:02","firmware":"6.1","firmware_type":"X6","id":null,"model":null,"data_port":10003})js"))
        << json.out;
    EXPECT_TRUE(contains(json.out, R"js("ip":"10.200.0.4","mac":"00:20:4a:00:00:04","firmware":"6.1","firmware_type":"X6","id":null,"model":null,"data_port":10010})js"))
        << json.out;

    const Result identified = wexo({"search", "--identify", "--json"});
    EXPECT_TRUE(contains(identified.out, R"js("id":3,"model":17,"data_port":10003)js")) << identified.out;
    EXPECT_TRUE(contains(identified.out, R"js("id":5,"model":40,"data_port":10010)js")) << identified.out;
}

TEST_F(CliTest, InfoSelectsByIndexAddressMacAndIdModel) {
    const Result by_ip = wexo({"info", "10.200.0.3"});
    ASSERT_EQ(by_ip.status, 0) << by_ip.err;
    EXPECT_EQ(by_ip.out, "unit 10.200.0.3\n"
                         "  IP address    10.200.0.3\n"
                         "  MAC address   00:20:4a:00:00:03\n"
                         "  firmware      6.1 (type X6)\n"
                         "  board ID      1\n"
                         "  model         3\n"
                         "  capabilities  5 DO, 0 DI, 0 AO, 0 AI, auto switching binary\n"
                         "  data port     10003\n"
                         "  serial        9600 baud, 8 data bits, parity none, 1 stop bit, flow control 0x00\n"
                         "  CP modes      CP1 0, CP2 2, CP3 1 (block flag 0)\n");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"info", "#1"}, {"info", "1"}, {"info", "00:20:4a:00:00:03"}, {"info", "00-20-4A-00-00-03"},
          {"info", "id=1,model=3"}, {"--index", "1", "info"}}) {
        const Result other = wexo(args);
        EXPECT_EQ(other.status, 0) << args.back() << ": " << other.err;
        EXPECT_TRUE(contains(other.out, "unit #1\n  IP address    10.200.0.3\n")) << args.back();
    }

    const Result json = wexo({"info", "#0", "--identify", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(contains(json.out, R"js("id":3,"model":17,"data_port":10003,"serial":{"baud":9600,"data_bits":8,"parity":0,"stop_bits":1,"flow":0})js")) << json.out;
    EXPECT_TRUE(contains(json.out, R"js("capabilities":{"digital_outputs":4,"digital_inputs":4,"auto_switching":"ascii")js")) << json.out;
}

TEST_F(CliTest, IdentifyAndConnectReportTheBoard) {
    const Result id = wexo({"identify", "10.200.0.4"});
    ASSERT_EQ(id.status, 0) << id.err;
    EXPECT_EQ(id.out, "unit 10.200.0.4: board ID 5, model 40\n");

    const Result conn = wexo({"connect", "#0", "--json"});
    ASSERT_EQ(conn.status, 0) << conn.err;
    EXPECT_EQ(conn.out, "{\"index\":0,\"connected\":true,\"data_port\":10003,\"id\":3,\"model\":17}\n");

    const Result direct = wexo({"connect", "--host", "10.200.0.3"});
    ASSERT_EQ(direct.status, 0) << direct.err;
    EXPECT_TRUE(contains(direct.out, "board ID 1, model 3")) << direct.out;
}

// Only the unit a command uses is identified, and a unit named by its
// address is asked directly, without a broadcast that all units hear.
TEST_F(CliTest, OnlyTheUnitUsedIsAsked) {
    clear_logs();
    ASSERT_EQ(wexo({"search"}).status, 0);
    for (int u = 0; u < 3; ++u) EXPECT_TRUE(sim_->frames(u, "data").empty()) << u;

    clear_logs();
    ASSERT_EQ(wexo({"connect", "1"}).status, 0);
    EXPECT_EQ(sim_->frames(1, "data"), std::vector<std::string>{"55 55"});
    EXPECT_TRUE(sim_->frames(0, "data").empty());
    EXPECT_TRUE(sim_->frames(2, "data").empty());

    clear_logs();
    const Result quiet = wexo({"info", "1", "--no-auto-id"});
    EXPECT_TRUE(contains(quiet.out, "  board ID      -\n  model         -\n")) << quiet.out;
    EXPECT_TRUE(sim_->frames(1, "data").empty());

    clear_logs();
    ASSERT_EQ(wexo({"connect", "10.200.0.3"}).status, 0);
    EXPECT_FALSE(sim_->frames(1, "udp").empty());
    EXPECT_EQ(sim_->frames(1, "data"), std::vector<std::string>{"55 55"});
    for (int u : {0, 2}) {
        EXPECT_TRUE(sim_->frames(u, "udp").empty()) << u;
        EXPECT_TRUE(sim_->frames(u, "data").empty()) << u;
    }
}

// On its data port alone a unit tells nothing of its module.
TEST_F(CliTest, DataPortUnitShowsModuleFieldsAsUnknown) {
    const std::vector<std::string> unit = {"--host", "10.200.0.3", "--data-port", "10003"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), unit.begin(), unit.end());
        return wexo(args);
    };
    const Result human = with({"info"});
    ASSERT_EQ(human.status, 0) << human.err;
    EXPECT_EQ(human.out, "unit 10.200.0.3\n"
                         "  IP address    -\n"
                         "  MAC address   -\n"
                         "  firmware      -\n"
                         "  board ID      1\n"
                         "  model         3\n"
                         "  capabilities  5 DO, 0 DI, 0 AO, 0 AI, auto switching binary\n"
                         "  data port     10003\n"
                         "  serial        -\n"
                         "  CP modes      -\n");
    EXPECT_TRUE(contains(with({"info", "--json"}).out,
                         R"js({"index":null,"ip":null,"mac":null,"firmware":null,"firmware_type":null,"id":1,"model":3,"data_port":10003,"serial":null,"cp_modes":null,"cp_flag":null,)js"));

    clear_logs();
    const Result cp = with({"cp"});
    EXPECT_EQ(cp.status, 2);
    EXPECT_TRUE(contains(cp.err, "pin access needs the network module")) << cp.err;
    EXPECT_TRUE(sim_->frames(1, "data").empty());
}

TEST_F(CliTest, InterfaceMustBeAnAddressOfThisHost) {
    struct Case {
        const char* address;
        int status;
        const char* error;
    };
    for (const Case& c : {Case{"10.200.0.1", 0, ""},
                          Case{"192.0.2.77", 2, "wexo: --interface: this host has no interface with the address "
                                                "192.0.2.77: ZuWexoSelectNetworkDevice failed with error 10099"},
                          Case{"not-an-address", 2, "wexo: --interface: 'not-an-address' is not an IPv4 address\n"}}) {
        const Result r = wexo({"--interface", c.address, "search"});
        EXPECT_EQ(r.status, c.status) << c.address << ": " << r.err;
        EXPECT_EQ(r.err.substr(0, std::strlen(c.error)), c.error);
        EXPECT_EQ(r.out.empty(), c.status != 0) << c.address;
    }
}

TEST_F(CliTest, OutputsRoundTripThroughTheUnit) {
    ASSERT_EQ(wexo({"do", "#0", "--all", "0"}).status, 0);
    const Result set = wexo({"do", "10.200.0.2", "2", "on"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "DO2  on\n");
    EXPECT_EQ(sim_->command("outputs 0"), "ok 0x4");

    // ASCII boards report an output that is on by its place in its group.
    EXPECT_EQ(wexo({"do", "#0", "--get", "2"}).out, "DO2  on  (value 4)\n");
    ASSERT_EQ(wexo({"do", "#0", "--all", "0b1001"}).status, 0);
    EXPECT_EQ(wexo({"do", "#0", "--json"}).out, "{\"mask\":9,\"channels\":[true,false,false,true]}\n");
    EXPECT_EQ(wexo({"do", "--host", "10.200.0.2", "--data-port", "10003"}).out,
              "DO0  on\nDO1  off\nDO2  off\nDO3  on\nmask 0x09\n");

    // Bits beyond the unit's four outputs: refused, nothing set.
    const Result wide = wexo({"do", "10.200.0.2", "--all", "0x1ff"});
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.err, "wexo: --all 0x1ff has bits above the 4 outputs of unit 10.200.0.2 (highest mask 0x0f); "
                        "nothing was set\n");
    EXPECT_EQ(sim_->command("outputs 0"), "ok 0x9");
}

TEST_F(CliTest, InputsFollowTheUnit) {
    ASSERT_EQ(sim_->command("inputs 0 0x5"), "ok 0x5");
    const Result all = wexo({"di", "#0"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, "DI0  on\nDI1  off\nDI2  on\nDI3  off\nmask 0x05\n");
    // One channel shows the board's own value: 4 for the third of a group.
    EXPECT_EQ(wexo({"di", "#0", "2"}).out, "DI2  on  (value 4)\n");
    EXPECT_EQ(wexo({"di", "#0", "1", "--json"}).out, "{\"channel\":1,\"on\":false,\"value\":0}\n");
}

TEST_F(CliTest, WatchPrintsEveryInputChange) {
    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    CliRun watch(sim_->netns(), {"--no-auto-id", "--timeout", "200", "di", "#0", "--watch", "--interval", "20",
                                 "--count", "1000", "--json"});
    const auto first = watch.line(10s);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(contains(*first, "\"mask\":0}")) << *first;

    ASSERT_EQ(sim_->command("inputs 0 0x8"), "ok 0x8");
    const auto change = watch.line(10s);
    ASSERT_TRUE(change.has_value());
    EXPECT_TRUE(contains(*change, "\"channel\":3,\"on\":true,\"mask\":8}")) << *change;

    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    const auto back = watch.line(10s);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(contains(*back, "\"channel\":3,\"on\":false,\"mask\":0}")) << *back;

    // An interrupt ends the watch cleanly.
    watch.interrupt();
    const Result ended = watch.finish();
    EXPECT_EQ(ended.status, 0) << ended.err;

    // Bounded by --count: a short run ends by itself.
    const Result bounded = wexo({"di", "#0", "--watch", "--interval", "1", "--count", "3"});
    EXPECT_EQ(bounded.status, 0) << bounded.err;
    EXPECT_TRUE(contains(bounded.out, "ms  inputs 0x00")) << bounded.out;
}

TEST_F(CliTest, SerialPassThroughDumpsTheReply) {
    // "DI" 0xC8 is an input query; the raw reply is "di", the data byte, 0xC8.
    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    const Result r = wexo({"serial", "send", "#0", "44 49", "0xc8", "--recv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "sent 3 bytes to unit #0 (10.200.0.2)\nreceived 4 bytes:\n"
                     "0000  64 69 20 c8                                      |di .|\n");
    const Result text = wexo({"serial", "send", "#0", "--text", "DI\\xc8", "--recv", "--json"});
    EXPECT_EQ(text.out, "{\"sent\":3,\"received\":{\"count\":4,\"hex\":\"646920c8\"}}\n");
}

TEST_F(CliTest, AutoSwitchingSettersAndReadBack) {
    const Result r = wexo({"autoswitch", "#0", "--mask", "3", "--time", "1500",
                           "--channel", "1", "--first", "500", "--second", "1200", "--active", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The durations of one output win over the common time given with them.
    EXPECT_EQ(r.out, "{\"active\":true,\"mask\":3,\"time_ms\":1500,\"channels\":["
                     "{\"channel\":0,\"first_ms\":1500,\"second_ms\":1500},"
                     "{\"channel\":1,\"first_ms\":500,\"second_ms\":1200},"
                     "{\"channel\":2,\"first_ms\":1500,\"second_ms\":1500},"
                     "{\"channel\":3,\"first_ms\":1500,\"second_ms\":1500}]}\n");
    const Result human = wexo({"autoswitch", "#0", "--active", "off"});
    EXPECT_EQ(human.out, "active  off\nmask    0x03\ntime    1500 ms\nDO0     1500 ms / 1500 ms\n"
                         "DO1     500 ms / 1200 ms\nDO2     1500 ms / 1500 ms\nDO3     1500 ms / 1500 ms\n");
    // Binary boards have one time for all outputs and no per-output durations.
    const Result binary = wexo({"autoswitch", "#1", "--time", "150", "--json"});
    EXPECT_EQ(binary.out, "{\"active\":false,\"mask\":0,\"time_ms\":200,\"channels\":[]}\n") << binary.err;
}

TEST_F(CliTest, ConfigurablePinsReadAndSet) {
    ASSERT_EQ(wexo({"cp", "#1", "on", "0", "1"}).status, 0);
    EXPECT_EQ(sim_->command("pins 1"), "ok 0x5");
    EXPECT_EQ(wexo({"cp", "#1", "--json"}).out, "{\"cp\":[1,0,1]}\n");
}

TEST_F(CliTest, FailuresGiveCodeMessageAndExitStatus) {
    // Absent unit: status 3.
    const Result absent = wexo({"info", "#7"});
    EXPECT_EQ(absent.status, 3);
    EXPECT_EQ(absent.err, "wexo: no unit #7: the search found 3\n");
    // An address no unit holds: its module never answers.
    EXPECT_EQ(wexo({"info", "10.200.0.99"}).status, 3);

    // The library refuses: status 1 with code, Japanese message and gloss.
    const Result refused = wexo({"di", "#1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "ZuWexoInPioAll failed with error 6: 指定された操作は実行できません。")) << refused.err;
    EXPECT_TRUE(contains(refused.err, "(operation not possible")) << refused.err;
    const Result json = wexo({"do", "#0", "9", "on", "--json"});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.out, "");
    EXPECT_TRUE(contains(json.err, R"js({"error":{"status":1,"text":"cannot set output 9 of unit #0 (10.200.0.2)","call":"ZuWexoOutPio","code":6,)js"))
        << json.err;

    // Nothing listening on a data port: a system error code.
    const Result refused_port = wexo({"connect", "--host", "10.200.0.20", "--data-port", "10003"});
    EXPECT_EQ(refused_port.status, 1);
    EXPECT_TRUE(contains(refused_port.err, "error 10111: err:10111 (system error: Connection refused)")) << refused_port.err;

    // Usage errors: status 2, before any network traffic.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"frobnicate"}, {"di"}, {"do", "#0", "1"}, {"di", "#0", "--all", "1"},
          {"do", "#0", "--get", "x"}, {"info", "not-a-unit"}}) {
        const Result usage = wexo(args);
        EXPECT_EQ(usage.status, 2) << args[0];
        EXPECT_TRUE(contains(usage.err, "Try 'wexo --help'")) << usage.err;
    }
    EXPECT_TRUE(contains(wexo({"info", "not-a-unit"}).err, "(use N or '#N', an IPv4 address")) << "hint";
}

TEST_F(CliTest, NoUnitAnsweringIsNotFound) {
    for (int u = 0; u < 3; ++u) ASSERT_EQ(sim_->command("discovery " + std::to_string(u) + " off").substr(0, 2), "ok");
    const Result r = wexo({"search", "--json"});
    for (int u = 0; u < 3; ++u) sim_->command("discovery " + std::to_string(u) + " on");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "[]\n");
    EXPECT_TRUE(contains(r.err, R"js("call":"ZuWexoSearch","code":2,"message":"検索した結果、WEXOが発見できませんでした。")js")) << r.err;
}

TEST(CliHelp, EveryCommandDocumentsItself) {
    const Result overview = CliRun(-1, {"--help"}).finish();
    ASSERT_EQ(overview.status, 0);
    for (const char* command : {"search", "info", "identify", "connect", "serial send", "serial recv", "di",
                                "do", "cp", "autoswitch"}) {
        EXPECT_TRUE(contains(overview.out, std::string("  ") + command)) << command;
        std::vector<std::string> args;
        std::string word;
        for (const char* c = command;; ++c) {
            if (*c == ' ' || *c == '\0') {
                args.push_back(word);
                word.clear();
                if (*c == '\0') break;
            } else {
                word += *c;
            }
        }
        args.push_back("--help");
        const Result help = CliRun(-1, args).finish();
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_TRUE(contains(help.out, std::string("Usage: wexo ") + command)) << help.out;
    }
}

} // namespace
