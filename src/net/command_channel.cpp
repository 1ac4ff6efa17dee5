// Reading replies on the command channel, draining stale input, hex fields.
#include "net/command_channel.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <sys/time.h>

#include "core/deadline.hpp"
#include "core/state.hpp"

namespace wexo {
namespace {

constexpr int kReceiveAttempts = 100;        // receivedata: receives before giving up
constexpr int kReceivePauseMs = 10;          // pause between partial receives
constexpr int kMaxConsecutiveFailures = 11;  // receive_until_0xc8: failed receives in a row
constexpr auto kDrainWindow = std::chrono::milliseconds(1);  // ClearReceiveBuffer
constexpr auto kDrainSpin = std::chrono::microseconds(120);  // its last stretch, watched awake
constexpr int kDefaultTimeoutMs = 1000;      // a socket opened without a receive time-out

// The unit closed the connection: nothing more will come, so the readers stop
// at once instead of retrying.
void set_end_of_stream() { set_system_error(ECONNRESET); }

// The receive time-out the channel was opened with, in ms.
int channel_timeout_ms(int sock) {
    timeval tv{};
    socklen_t length = sizeof(tv);
    if (getsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, &length) != 0) return kDefaultTimeoutMs;
    const long long ms = static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
    return ms > 0 ? static_cast<int>(std::min<long long>(ms, INT32_MAX / kMaxConsecutiveFailures))
                  : kDefaultTimeoutMs;
}

// The time a reader may spend: each receive waits at most the channel's
// time-out, and the whole read at most the reader's failure budget of eleven
// time-outs, so that neither a drip of bytes nor a stream of replies to other
// commands can hold a call longer.
class ReadBudget {
public:
    explicit ReadBudget(int sock)
        : per_receive_(std::chrono::milliseconds(channel_timeout_ms(sock))),
          overall_(Deadline::after(per_receive_ * kMaxConsecutiveFailures)) {}
    // 1 readable, 0 the receive's time-out ran out, -1 the wait failed (errno).
    int wait(int sock) const {
        return wait_until(sock, POLLIN, Deadline::after(per_receive_).earliest(overall_));
    }
    bool spent() const { return overall_.expired(); }

private:
    std::chrono::milliseconds per_receive_;
    Deadline overall_;
};

}  // namespace

long receive_some(int sock, uint8_t* buffer, std::size_t size) {
    const int ready =
        wait_until(sock, POLLIN, Deadline::after_ms(channel_timeout_ms(sock)));
    if (ready <= 0) {
        if (ready == 0) errno = EAGAIN;
        return -1;
    }
    return static_cast<long>(recv(sock, buffer, size, MSG_DONTWAIT));
}

int receivedata(int sock, uint8_t* buffer, int n) {
    if (n <= 0) return 0;
    const ReadBudget budget(sock);
    int count = 0;
    for (int attempts = kReceiveAttempts; attempts > 0 && !budget.spent(); --attempts) {
        const int ready = budget.wait(sock);
        if (ready <= 0) {
            set_system_error(ready == 0 ? EAGAIN : errno);
            return 0;
        }
        const ssize_t got = recv(sock, buffer + count, static_cast<size_t>(n - count), MSG_DONTWAIT);
        if (got < 0) {
            set_system_error(errno);
            return 0;
        }
        if (got == 0) {
            set_end_of_stream();
            return 0;
        }
        count += static_cast<int>(got);
        if (count >= n) return n;
        Sleep(kReceivePauseMs);
    }
    // Still short after every attempt, or out of time: the reply did not
    // come in time, which the caller learns like a receive time-out.
    set_system_error(EAGAIN);
    return 0;
}

int receive_until_0xc8(int index, uint8_t* buffer, int max, const uint8_t* request) {
    // Taken first: request may be the same memory as buffer.
    const auto expected0 = static_cast<uint8_t>(request[0] + 0x20);
    const auto expected1 = static_cast<uint8_t>(request[1] + 0x20);
    set_error(kOk);
    const int sock = record(index).sock;
    const ReadBudget budget(sock);
    int count = 0;
    int failures = 0;
    while (count < max) {
        if (budget.spent()) {
            set_system_error(EAGAIN);
            return 0;
        }
        // Look at what is waiting, then consume exactly through the first
        // terminator or the byte that reaches max, so nothing after the
        // frame is taken.
        ssize_t peeked = -1;
        const int ready = budget.wait(sock);
        if (ready > 0) {
            peeked = recv(sock, buffer + count, static_cast<size_t>(max - count), MSG_PEEK | MSG_DONTWAIT);
        } else if (ready == 0) {
            errno = EAGAIN;
        }
        if (peeked < 0) {
            if (++failures >= kMaxConsecutiveFailures) {
                set_system_error(errno);
                return 0;
            }
            Sleep(kReceivePauseMs);
            continue;
        }
        if (peeked == 0) {
            set_end_of_stream();
            return 0;
        }
        ssize_t take = 0;
        while (take < peeked) {
            const uint8_t byte = buffer[count + take++];
            if (byte == kTerminator || count + take == max) break;
        }
        const ssize_t got = recv(sock, buffer + count, static_cast<size_t>(take), MSG_DONTWAIT);
        if (got <= 0) {
            if (got == 0) {
                set_end_of_stream();
                return 0;
            }
            if (++failures >= kMaxConsecutiveFailures) {
                set_system_error(errno);
                return 0;
            }
            continue;
        }
        failures = 0;
        for (ssize_t i = 0; i < got; ++i) {
            const uint8_t byte = buffer[count++];
            if (byte == kTerminator) {
                if (count >= 2 && buffer[0] == expected0 && buffer[1] == expected1) return count;
                count = 0;  // a reply to another command: skip it
                break;
            }
            if (count == max) {
                set_error(kBadReply);
                return 0;
            }
        }
    }
    set_error(kBadReply);
    return 0;
}

void ClearReceiveBuffer(int sock) {
    const Deadline window = Deadline::after(kDrainWindow);
    // A sleeping wait wakes late by the kernel's timer slack; it sleeps only
    // until shortly before the window ends, and the last stretch is watched
    // without sleeping, so the drain ends on time without spinning for the
    // whole window.
    const Deadline sleep_until = Deadline::after(kDrainWindow - kDrainSpin);
    uint8_t scratch[4096];
    // Bounded by the window even when the peer keeps sending.
    while (!window.expired()) {
        const int ready = sleep_until.expired() ? wait_until(sock, POLLIN, Deadline::after_ms(0))
                                                : wait_until(sock, POLLIN, sleep_until);
        if (ready < 0) return;
        if (ready == 0) continue;
        if (recv(sock, scratch, sizeof(scratch), MSG_DONTWAIT) <= 0) return;
    }
}

void write_hex(uint8_t* out, uint32_t value, int width) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<uint8_t>(kDigits[value & 0x0F]);
        value >>= 4;
    }
}

const char* VAL2HEX(uint32_t value, int width) {
    thread_local char text[9];
    if (width < 1) width = 1;
    if (width > 8) width = 8;
    write_hex(reinterpret_cast<uint8_t*>(text), value, width);
    text[width] = '\0';
    return text;
}

uint32_t HEX2VAL(const char* text, int width) {
    char scratch[9] = {};
    if (width > 8) width = 8;
    for (int i = 0; i < width && text[i] != '\0'; ++i) scratch[i] = text[i];
    return static_cast<uint32_t>(std::strtoul(scratch, nullptr, 16));
}

Frame& Frame::push_hex(uint32_t value, int width) {
    uint8_t digits[8];
    write_hex(digits, value, width);
    for (int i = 0; i < width; ++i) push(digits[i]);
    return *this;
}

bool send_bytes(int sock, std::span<const uint8_t> bytes, const char* name) {
    if (send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
        set_system_error(errno);
        if (name != nullptr) output_log(kLogError, "%s send error.", name);
        return false;
    }
    return true;
}

bool send_request(int index, std::span<const uint8_t> request, const char* name) {
    return send_bytes(record(index).sock, request, name);
}

}  // namespace wexo
