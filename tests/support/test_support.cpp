#include "test_support.hpp"

#include <arpa/inet.h>
#include <dirent.h>

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
