// Reading replies on the command channel, draining stale input, hex fields,
// and the one exchange helper every command goes through.
#include "net/command_channel.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/state.hpp"

namespace wexo {
namespace {

constexpr int kReceiveAttempts = 100;    // receivedata: receives before giving up
constexpr int kReceivePauseMs = 10;      // pause between partial receives
constexpr int kMaxConsecutiveFailures = 11;  // receive_until_0xc8: failed receives in a row
constexpr long kDrainWindowNs = 1000000;     // ClearReceiveBuffer: 1 ms in all

// The unit closed the connection: nothing more will come, so the readers stop
// at once instead of retrying.
void set_end_of_stream() { set_system_error(ECONNRESET); }

}  // namespace

int receivedata(int sock, uint8_t* buffer, int n) {
    int count = 0;
    for (int attempts = kReceiveAttempts; attempts > 0; --attempts) {
        const ssize_t got = recv(sock, buffer + count, static_cast<size_t>(n - count), 0);
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
    return 0;
}

int receive_until_0xc8(int index, uint8_t* buffer, int max, const uint8_t* request) {
    // Taken first: request may be the same memory as buffer.
    const auto expected0 = static_cast<uint8_t>(request[0] + 0x20);
    const auto expected1 = static_cast<uint8_t>(request[1] + 0x20);
    set_error(kOk);
    const int sock = record(index).sock;
    int count = 0;
    int failures = 0;
    while (count < max) {
        // Look at what is waiting (blocking up to the socket's time-out for
        // the first byte), then consume exactly through the first terminator
        // or the byte that reaches max, so nothing after the frame is taken.
        const ssize_t peeked = recv(sock, buffer + count, static_cast<size_t>(max - count), MSG_PEEK);
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
        const ssize_t got = recv(sock, buffer + count, static_cast<size_t>(take), 0);
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
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000000000LL + now.tv_nsec + kDrainWindowNs;
    uint8_t scratch[4096];
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = deadline - (now.tv_sec * 1000000000LL + now.tv_nsec);
        if (left <= 0) return;
        const timespec wait{0, static_cast<long>(left)};
        pollfd p{sock, POLLIN, 0};
        if (ppoll(&p, 1, &wait, nullptr) <= 0) return;
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

bool binary_exchange(int index, std::span<const uint8_t> request, std::span<uint8_t> reply,
                     const char* name, Drain drain) {
    if (drain == Drain::kYes) ClearReceiveBuffer(record(index).sock);
    if (!send_request(index, request, name)) return false;
    if (receivedata(record(index).sock, reply.data(), static_cast<int>(reply.size())) == 0) {
        if (name != nullptr) output_log(kLogError, "%s recv error.", name);
        return false;
    }
    return true;
}

int ascii_exchange(int index, std::span<const uint8_t> request, uint8_t* reply, int max,
                   const char* name, Drain drain) {
    if (drain == Drain::kYes) ClearReceiveBuffer(record(index).sock);
    if (!send_request(index, request, name)) return 0;
    const int length = receive_until_0xc8(index, reply, max, request.data());
    if (length == 0 && name != nullptr) output_log(kLogError, "%s recv error.", name);
    return length;
}

}  // namespace wexo
