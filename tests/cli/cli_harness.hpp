// Runs the wexo tool against wexo-sim for the end-to-end tests.
//
// The simulator runs in a private network namespace of its own (started
// through tests/support/netns-run.sh); every wexo run joins that namespace
// with setns(), so search broadcasts reach the simulated units and nothing
// else. Binaries come from WEXO_CLI and WEXO_SIM, or default to the build
// tree next to the test binary.
#pragma once

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

namespace cli_test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline std::string dir_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

inline std::string self_dir() {
    char buf[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? dir_of(std::string(buf, static_cast<std::size_t>(n))) : ".";
}

inline std::string binary(const char* env, const char* relative) {
    const char* v = std::getenv(env);
    return (v && *v) ? v : self_dir() + "/" + relative;
}

inline std::string cli_path() { return binary("WEXO_CLI", "../tools/wexo"); }
inline std::string sim_path() { return binary("WEXO_SIM", "../sim/wexo-sim"); }
// The namespace script sits beside this file's folder in the source tree.
inline std::string netns_script() { return dir_of(dir_of(__FILE__)) + "/support/netns-run.sh"; }

inline std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

inline int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads from fd into buffer until a newline is there or the deadline passes.
inline std::optional<std::string> read_line(int fd, std::string& buffer, Clock::time_point deadline) {
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
inline int reap(pid_t pid, Clock::time_point deadline) {
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
    // The tool remembers boards in $XDG_CACHE_HOME; a run has no cache
    // unless the test names a folder for one.
    CliRun(int netns, std::vector<std::string> args, const std::string& cache_home = "/dev/null/wexo-no-cache") {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), cli_path());
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            // Never a terminal: a run that would ask for confirmation refuses instead.
            const int no_input = open("/dev/null", O_RDONLY);
            if (no_input >= 0) dup2(no_input, STDIN_FILENO);
            if (netns >= 0 && setns(netns, CLONE_NEWNET) != 0) _exit(126);
            setenv("XDG_CACHE_HOME", cache_home.c_str(), 1);
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

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One simulator for all tests of a suite; Units::list() gives its units.
template <typename Units>
class SimulatorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sim_ = new Simulator(Units::list()); }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(sim_->ready()) << "wexo-sim did not start: " << sim_path(); }

    // A short time-out keeps an ASCII board's silence to the binary
    // identification short.
    static Result wexo(std::vector<std::string> args) {
        args.insert(args.begin(), {"--timeout", "200"});
        return CliRun(sim_->netns(), std::move(args)).finish();
    }

    static void clear_logs(int units) {
        for (int u = 0; u < units; ++u) ASSERT_EQ(sim_->command("clear-log " + std::to_string(u)), "ok");
    }

    static inline Simulator* sim_ = nullptr;
};

} // namespace cli_test
