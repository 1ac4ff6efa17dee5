// Helpers shared by the fuzz targets.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "wexo.h"

namespace wexofuzz {

// An invariant of the code under test: a broken one is a finding, so it
// aborts, which libFuzzer reports with the input.
inline void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Starts the library with every log line on, as a caller with tracing would
// have it: each line is formatted and thrown away.
inline void start_library_logging_to_null() {
    ZuWexoInit();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return;
    ZuWexoSetLogLevel(WEXO_LOG_ENTRY | WEXO_LOG_RESULT | WEXO_LOG_TRACE | WEXO_LOG_ERROR);
}

// The IPv4 loopback address with port (0: any free port, for a bind).
inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Splits input into pieces, each a length byte (taken modulo `longest` + 1)
// and that many bytes; the last piece is cut where the input ends.
inline std::vector<std::span<const uint8_t>> pieces(std::span<const uint8_t> input,
                                                    std::size_t longest) {
    std::vector<std::span<const uint8_t>> out;
    for (std::size_t i = 0; i < input.size();) {
        const std::size_t wanted = input[i++] % (longest + 1);
        const std::size_t n = std::min(wanted, input.size() - i);
        out.push_back(input.subspan(i, n));
        i += n;
    }
    return out;
}

}  // namespace wexofuzz
