// The stream readers over a fuzzed byte stream: the stream is written into
// one end of a socket pair in pieces the input chooses, the writing end is
// closed, and receivedata, receive_until_0xc8 (the command channel) or
// waitstring (the module's setup menu) reads the other end. A frame that is
// taken answers the request's letters, ends at its first terminator, fits
// the buffer, and leaves everything after it unread.
//
// Input: reader (0..2 modulo 3), size byte, two request letters, then pieces
// (a length byte 0..31, then that many stream bytes).
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/state.hpp"
#include "wire/command_channel.hpp"
#include "module/module_config.hpp"
#include "fuzz_support.hpp"

using namespace wexo;

using wexofuzz::check;

namespace {

// Both ends of one stream, closed on every path.
struct Pair {
    int fd[2] = {-1, -1};
    Pair() {
        check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) == 0, "socketpair");
        // A short unit time-out: nothing the reader waits for ever comes.
        timeval tv{0, 2000};
        setsockopt(fd[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Pair() {
        for (int f : fd) if (f >= 0) close(f);
    }
};

std::vector<uint8_t> rest_of(int fd) {
    std::vector<uint8_t> rest;
    uint8_t chunk[512];
    for (;;) {
        const ssize_t got = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got <= 0) return rest;
        rest.insert(rest.end(), chunk, chunk + got);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int reader = data[0] % 3;
    const int n = data[1] + 1;  // 1..256: buffer size or byte count
    const uint8_t request[2] = {data[2], data[3]};

    Pair pair;
    std::vector<uint8_t> stream;
    for (const auto piece : wexofuzz::pieces({data + 4, size - 4}, 31)) {
        if (piece.empty()) continue;
        // Each piece costs the socket far more than its bytes: the stream
        // ends where the buffer is full.
        const ssize_t sent = send(pair.fd[1], piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) stream.insert(stream.end(), piece.begin(), piece.begin() + sent);
        if (sent != static_cast<ssize_t>(piece.size())) break;
    }
    shutdown(pair.fd[1], SHUT_WR);

    std::vector<uint8_t> buffer(static_cast<size_t>(n));
    if (reader == 2) {
        const char* prompt = (data[2] & 1) != 0 ? "Your choice" : "Parameters stored ...";
        Inbox menu = Inbox::for_socket(pair.fd[0]);
        if (waitstring(Link{pair.fd[0], menu}, prompt)) {
            check(std::search(stream.begin(), stream.end(), prompt, prompt + std::strlen(prompt)) !=
                      stream.end(),
                  "prompt found that was not sent");
        } else {
            check(::error != 0, "no prompt and no code");
        }
    } else if (reader == 1) {
        record(0).sock = pair.fd[0];
        reset_unit_inbox(0, pair.fd[0], 2);
        const int got = receive_until_0xc8(unit_link(0), buffer.data(), n, request);
        // Unread: what the channel received after the frame, then the socket's rest.
        Inbox& inbox = unit_link(0).inbox;
        std::vector<uint8_t> rest(inbox.size());
        inbox.take(rest.data(), rest.size());
        const std::vector<uint8_t> in_socket = rest_of(pair.fd[0]);
        rest.insert(rest.end(), in_socket.begin(), in_socket.end());
        check(rest.size() <= stream.size(), "more read back than written");
        if (got > 0) {
            check(got >= 2 && got <= n, "frame length outside 2..max");
            check(::error == 0, "code set with a frame");
            check(buffer[0] == static_cast<uint8_t>(request[0] + 0x20) &&
                      buffer[1] == static_cast<uint8_t>(request[1] + 0x20),
                  "frame answers other letters");
            check(buffer[got - 1] == kTerminator, "frame without terminator");
            check(std::memchr(buffer.data(), kTerminator, static_cast<size_t>(got - 1)) == nullptr,
                  "frame holds an earlier terminator");
            const size_t end = stream.size() - rest.size();
            check(end >= static_cast<size_t>(got) &&
                      std::memcmp(stream.data() + end - got, buffer.data(), static_cast<size_t>(got)) == 0,
                  "frame is not the bytes just before the unread rest");
        } else {
            check(::error != 0, "no frame and no code");
        }
    } else {
        Inbox inbox = Inbox::for_socket(pair.fd[0]);
        const int got = receivedata(Link{pair.fd[0], inbox}, buffer.data(), n);
        check(got == 0 || got == n, "receivedata returned a part");
        if (got == n) {
            check(stream.size() >= static_cast<size_t>(n) &&
                      std::memcmp(stream.data(), buffer.data(), static_cast<size_t>(n)) == 0,
                  "receivedata bytes differ from the stream");
        } else {
            check(::error != 0, "no bytes and no code");
        }
    }
    record(0).sock = -1;
    return 0;
}
