#include "test_support.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace wexotest {

int open_fd_count() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(dir);
        --count;  // the directory stream's own descriptor
    }
    return count;
}

namespace {

std::string socket_address(const sockaddr_in& a) {
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace

std::string open_fd_listing() {
    std::ostringstream out;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return {};
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd == dirfd(dir)) continue;
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
        out << fd << " " << target;
        sockaddr_in local{}, peer{};
        socklen_t size = sizeof local;
        int type = 0;
        socklen_t type_size = sizeof type;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &type_size) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 && local.sin_family == AF_INET) {
            out << (type == SOCK_DGRAM ? " udp " : " tcp ") << socket_address(local);
            size = sizeof peer;
            if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0) out << " -> " << socket_address(peer);
        }
        out << "\n";
    }
    closedir(dir);
    return out.str();
}

void StdoutCapture::start() { ::testing::internal::CaptureStdout(); }

std::string StdoutCapture::stop() {
    fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

std::vector<std::string> StdoutCapture::split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void LibraryTest::SetUp() {
    ZuWexoInit();
    std::memset(xportset, 0, sizeof(xportset));
    ZuWexoSetLogLevel(0);
}

void LibraryTest::TearDown() {
    ZuWexoEnd();
    ZuWexoSetLogLevel(0);
}

int LibraryTest::add_record(const std::string& ip, uint16_t data_port, int model_code,
                            int unit_kind) {
    int index = xportcount++;
    wexo_device& d = xportset[index];
    std::memset(&d, 0, sizeof(d));
    d.unit_addr.sin_family = AF_INET;
    d.unit_addr.sin_port = htons(30718);
    inet_pton(AF_INET, ip.c_str(), &d.unit_addr.sin_addr);
    std::snprintf(d.ip_text, sizeof(d.ip_text), "%s", ip.c_str());
    d.data_port = data_port;
    d.cp_port = 30704;
    d.board_id = 255;
    d.model_code = model_code;
    d.timeout_ms = 1000;
    d.unit_kind = unit_kind;
    xportsearchcount = xportcount;
    return index;
}

}  // namespace wexotest
