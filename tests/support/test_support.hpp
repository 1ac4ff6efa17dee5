// Helpers shared by the test areas.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wexo.h"
#include "wexo_data.h"

namespace wexotest {

// Number of descriptors this process holds open (from /proc/self/fd).
int open_fd_count();
// One line per open descriptor: number, target and, for IPv4 sockets, the
// local and peer addresses; for telling whose a descriptor left open is.
std::string open_fd_listing();

// Captures what the library writes to standard output between start() and
// stop(); lines() splits it at newlines.
class StdoutCapture {
public:
    void start();
    std::string stop();
    static std::vector<std::string> split_lines(const std::string& text);
};

// Starts the library for each test and ends it afterwards, with the log mask
// cleared and a clean device table.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a record for a unit at ip:data_port without any network exchange,
    // as a search would leave it, and returns its index.
    int add_record(const std::string& ip, uint16_t data_port, int model_code = -1,
                   int unit_kind = 0);
};

}  // namespace wexotest
