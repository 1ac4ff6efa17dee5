// The module's datagrams as a search reads them: a fake module on a
// loopback UDP socket sends a fuzzed discovery reply, then answers each
// configuration query (setup record, identification text, CP block) with the
// next fuzzed datagram. The search's own receive, matching and decoding run
// on them and fill a device record, which must stay in range.
//
// Input: datagrams, each a length byte (0..255) and that many bytes; the
// first is the discovery reply.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "core/state.hpp"
#include "session/discovery.hpp"
#include "wire/module_udp.hpp"
#include "wire/unit_socket.hpp"
#include "wexo.h"
#include "fuzz_support.hpp"

using namespace wexo;

using wexofuzz::check;
using wexofuzz::loopback;

namespace {

// The fake module: one datagram back to the sender of each query it reads,
// until the replies run out or stop becomes readable (the library is done).
void serve(int fd, int stop, std::span<const std::span<const uint8_t>> replies) {
    for (const auto& reply : replies) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
        if (poll(p, 2, 1000) <= 0 || (p[0].revents & POLLIN) == 0) return;
        uint8_t query[64];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        if (recvfrom(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &length) < 0) return;
        sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wexofuzz::start_library_logging_to_null();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto datagrams = wexofuzz::pieces({data, size}, 255);
    if (datagrams.empty()) return 0;

    Socket module(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in module_addr = loopback(0);
    check(module.valid() && bind(module.get(), reinterpret_cast<const sockaddr*>(&module_addr),
                                 sizeof module_addr) == 0, "module socket");
    socklen_t length = sizeof module_addr;
    getsockname(module.get(), reinterpret_cast<sockaddr*>(&module_addr), &length);

    ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    check(udp.valid(), "library socket");
    xportcount = 1;
    wexo_device& rec = record(0);
    rec = wexo_device{};
    rec.model_code = -1;
    rec.board_id = 255;

    // Discovery: the query goes out, the reply is waiting when it is read.
    check(udp.send(kDiscoveryQuery, module_addr) == 0, "discovery query");
    int stop[2];
    check(pipe(stop) == 0, "pipe");
    const Socket stop_read(stop[0]);
    const Socket stop_write(stop[1]);
    std::thread module_end(serve, module.get(), stop[0], std::span(datagrams).first(1));
    module_end.join();
    if (udp.wait(Deadline::after_ms(200)) != 1) return 0;
    sockaddr_in from{};
    if (!get_xport_information(udp, &from, 0)) return 0;
    check(rec.firm_major <= 15 && rec.firm_minor <= 15, "firmware digit above 15");
    check(same_host(rec.unit_addr, module_addr), "record not addressed to the sender");

    // The configuration queries, each answered by the next datagram.
    std::thread config_end(serve, module.get(), stop[0], std::span(datagrams).subspan(1));
    const int ok = get_xport_information2(udp, xportset[0], 3);
    check(write(stop[1], "", 1) == 1, "stop");
    config_end.join();
    if (ok) {
        check(same_host(rec.unit_addr, module_addr), "record taken from another host");
        check(rec.cp_flag == 0 || rec.cp_flag == 1, "CP flag not 0 or 1");
        for (int m : rec.cp_mode) check(m >= 0 && m <= 255, "CP mode outside a byte");
        check(rec.unit_kind == 0 || rec.unit_kind == 3 || rec.unit_kind == 5, "unit kind");
        check(baud_rate_of(rec.baud_code) >= 0, "baud rate");
    } else {
        check(::error != 0, "failed without a code");
    }
    return 0;
}
