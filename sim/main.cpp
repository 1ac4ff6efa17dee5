// wexo-sim: simulated WEXO I/O units for tests and experiments.
#include "wexosim.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage = R"(usage: wexo-sim --unit DEF [--unit DEF ...] [--control PORT] [--stdin]

Simulates WEXO I/O units (network module + I/O board), each on its own IPv4
address. Prints one "unit ..." line per unit and then "ready" once every
socket listens. Ends on SIGINT, SIGTERM, the command "quit", or end of
standard input when commands are read from it.

options:
  --unit DEF     add a unit; DEF is comma-separated key=value (below)
  --control PORT  also accept control connections on 127.0.0.1:PORT
                  (0: any free port, printed as "control PORT")
  --stdin         read commands from standard input even with --control
                  (the default without --control)
  --help          this text

unit keys (numbers decimal or 0x-hex, on/off also 1/0, yes/no, true/false):
)";

void usage() {
    std::fputs(kUsage, stdout);
    std::fputs(wexosim::unit_spec_help().c_str(), stdout);
    std::printf("\ncontrol %s\n", wexosim::control_help().c_str());
    std::fputs("  one per line, answered by \"ok ...\" or \"error ...\"; fault KIND: ", stdout);
    for (int k = 0; wexosim::fault_name(static_cast<wexosim::FaultKind>(k)) != nullptr; ++k)
        std::printf("%s ", wexosim::fault_name(static_cast<wexosim::FaultKind>(k)));
    std::puts("");
}

int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
    char c = 's';
    [[maybe_unused]] auto n = ::write(g_signal_pipe[1], &c, 1);
}

struct Client {
    int fd;
    std::string buffer;
};

void emit(int out_fd, const std::string& text) {
    if (out_fd == STDOUT_FILENO) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    } else {
        [[maybe_unused]] auto n = ::send(out_fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
}

// Runs the complete lines in `buffer`; returns false on "quit".
bool run_lines(wexosim::Simulator& sim, std::string& buffer, int out_fd) {
    std::size_t nl;
    while ((nl = buffer.find('\n')) != std::string::npos) {
        std::string line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string first = line.substr(0, line.find_first_of(" \t"));
        if (first == "quit" || first == "exit") {
            emit(out_fd, "ok bye\n");
            return false;
        }
        emit(out_fd, wexosim::control_command(sim, line) + "\n");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<wexosim::UnitConfig> units;
    int control_port = -1;
    bool use_stdin = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "wexo-sim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        try {
            if (a == "--help" || a == "-h") {
                usage();
                return 0;
            } else if (a == "--unit") {
                units.push_back(wexosim::parse_unit_spec(value()));
            } else if (a == "--control") {
                control_port = std::stoi(value());
                if (control_port < 0 || control_port > 65535) throw std::invalid_argument("control port");
            } else if (a == "--stdin") {
                use_stdin = true;
            } else {
                std::fprintf(stderr, "wexo-sim: unknown option %s (see --help)\n", a.c_str());
                return 2;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wexo-sim: %s: %s\n", a.c_str(), e.what());
            return 2;
        }
    }
    if (units.empty()) {
        std::fputs("wexo-sim: no --unit given (see --help)\n", stderr);
        return 2;
    }
    if (control_port < 0) use_stdin = true;

    if (::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    wexosim::Simulator sim;
    int control_fd = -1;
    try {
        for (auto& u : units) sim.add_unit(std::move(u));
        sim.start();
        if (control_port >= 0) {
            control_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int one = 1;
            ::setsockopt(control_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(control_port));
            if (::bind(control_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(control_fd, 8) != 0)
                throw std::runtime_error(std::string("control port: ") + std::strerror(errno));
            socklen_t len = sizeof a;
            ::getsockname(control_fd, reinterpret_cast<sockaddr*>(&a), &len);
            control_port = ntohs(a.sin_port);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wexo-sim: %s\n", e.what());
        return 1;
    }

    std::string listing = wexosim::control_command(sim, "units");
    std::fputs(listing.substr(listing.find('\n') + 1).c_str(), stdout);
    std::fputs("\n", stdout);
    if (control_fd >= 0) std::printf("control %d\n", control_port);
    std::puts("ready");
    std::fflush(stdout);

    std::vector<Client> clients;
    std::string stdin_buffer;
    bool done = false;
    while (!done) {
        std::vector<pollfd> pfds{{g_signal_pipe[0], POLLIN, 0}};
        if (use_stdin) pfds.push_back({STDIN_FILENO, POLLIN, 0});
        if (control_fd >= 0) pfds.push_back({control_fd, POLLIN, 0});
        for (auto& c : clients) pfds.push_back({c.fd, POLLIN, 0});
        if (::poll(pfds.data(), pfds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        std::size_t i = 0;
        if (pfds[i++].revents) break;  // a signal
        if (use_stdin && pfds[i++].revents) {
            char buf[4096];
            ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) break;  // end of input ends the run
            stdin_buffer.append(buf, static_cast<std::size_t>(n));
            if (!run_lines(sim, stdin_buffer, STDOUT_FILENO)) break;
        }
        if (control_fd >= 0 && pfds[i++].revents) {
            int fd = ::accept4(control_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back({fd, {}});
        }
        for (std::size_t k = 0; i < pfds.size(); ++i, ++k) {
            if (!pfds[i].revents) continue;
            Client& c = clients[k];
            char buf[4096];
            ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            if (n <= 0) {
                ::close(c.fd);
                c.fd = -1;
                continue;
            }
            c.buffer.append(buf, static_cast<std::size_t>(n));
            if (!run_lines(sim, c.buffer, c.fd)) done = true;
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (auto& c : clients) ::close(c.fd);
    if (control_fd >= 0) ::close(control_fd);
    sim.stop();
    return 0;
}
