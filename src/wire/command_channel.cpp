// Reading replies on the command channel, draining stale input, hex fields.
#include "wire/command_channel.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/deadline.hpp"
#include "core/state.hpp"

namespace wexo {
namespace {

constexpr int kReceiveAttempts = 100;        // receivedata: receives before giving up
constexpr int kReceivePauseMs = 10;          // pause between partial receives
constexpr int kMaxConsecutiveFailures = 11;  // receive_until_0xc8: failed receives in a row
constexpr auto kDrainWindow = std::chrono::milliseconds(1);  // ClearReceiveBuffer
constexpr auto kDrainSpin = std::chrono::microseconds(120);  // its last stretch, watched awake
constexpr int kDiscardReceives = 16;          // DiscardWaiting: receives at most
constexpr int kDefaultTimeoutMs = 1000;      // a socket opened without a receive time-out
// Longest wait of one receive, so that eleven of them still fit an int of ms.
constexpr int kLongestReceiveMs = INT32_MAX / kMaxConsecutiveFailures;

// The unit closed the connection: nothing more will come, so the readers stop
// at once instead of retrying.
void set_end_of_stream(Sink sink) { sink.set_system_error(ECONNRESET); }

// The time a reader may spend: each receive waits at most the channel's
// time-out, and the whole read at most the reader's failure budget of eleven
// time-outs, so that neither a drip of bytes nor a stream of replies to other
// commands can hold a call longer.
Deadline read_deadline(const Inbox& inbox) {
    return Deadline::after(inbox.per_receive() * kMaxConsecutiveFailures);
}

// One inbox per record: a unit's channel is used by one thread at a time.
Inbox unit_inboxes[WEXO_MAX_DEVICES];

}  // namespace

void Inbox::attach(int sock, int timeout_ms) {
    clear();
    sock_ = sock;
    // set_socket_timeout gives a socket at least 1 ms.
    timeout_ms_ = std::clamp(timeout_ms, 1, kLongestReceiveMs);
    socket_waits_ = timeout_ms_ == std::max(timeout_ms, 1);
}

void Inbox::attach(int sock) {
    timeval tv{};
    socklen_t length = sizeof(tv);
    const long long ms = getsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, &length) == 0
                             ? static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000
                             : 0;
    attach(sock, ms > 0 ? static_cast<int>(std::min<long long>(ms, kLongestReceiveMs))
                        : kDefaultTimeoutMs);
    // Only a whole number of ms set by us is known to bound a blocking recv.
    socket_waits_ = socket_waits_ && ms > 0 && tv.tv_usec % 1000 == 0;
}

std::size_t Inbox::take(uint8_t* out, std::size_t n) {
    const std::size_t count = std::min(n, size());
    if (count == 0) return 0;  // out may be null then
    std::memcpy(out, bytes_.data() + begin_, count);
    begin_ += count;
    if (begin_ == end_) clear();
    return count;
}

long Inbox::receive(int sock, uint8_t* out, std::size_t room, const Deadline* overall) const {
    // A blocking recv is bounded by the socket's time-out: one system call
    // when the reply is already on its way. Near the overall deadline, and
    // after a signal, the wait is a poll bounded by what is left.
    if (socket_waits_ && (overall == nullptr || overall->left() >= per_receive())) {
        const ssize_t got = recv(sock, out, room, 0);
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
    const Deadline one = Deadline::after(per_receive());
    const int ready = wait_until(sock, POLLIN, overall != nullptr ? one.earliest(*overall) : one);
    if (ready <= 0) {
        if (ready == 0) errno = EAGAIN;
        return -1;
    }
    return static_cast<long>(recv(sock, out, room, MSG_DONTWAIT));
}

long Inbox::fill(int sock, const Deadline& overall) {
    if (begin_ > 0) {
        std::memmove(bytes_.data(), bytes_.data() + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    const long got = receive(sock, bytes_.data() + end_, bytes_.size() - end_, &overall);
    if (got > 0) end_ += static_cast<std::size_t>(got);
    return got;
}

Link unit_link(int index, Sink sink) { return unit_link(index, record(index).sock, sink); }

Link unit_link(int index, int sock, Sink sink) {
    Inbox& inbox = unit_inboxes[index];
    if (inbox.sock() != sock) inbox.attach(sock);
    return Link{sock, inbox, index, sink};
}

void reset_unit_inbox(int index, int sock, int timeout_ms) {
    unit_inboxes[index].attach(sock, timeout_ms);
}

long receive_some(Link link, uint8_t* buffer, std::size_t size) {
    if (link.inbox.empty()) {
        return link.inbox.receive(link.sock, buffer, size, nullptr);
    }
    // What a receive from the socket would have given: the waiting bytes
    // first, then whatever else has arrived.
    std::size_t count = link.inbox.take(buffer, size);
    if (count < size) {
        const ssize_t more = recv(link.sock, buffer + count, size - count, MSG_DONTWAIT);
        if (more > 0) count += static_cast<std::size_t>(more);
    }
    return static_cast<long>(count);
}

int receivedata(Link link, uint8_t* buffer, int n) {
    if (n <= 0) return 0;
    const Deadline overall = read_deadline(link.inbox);
    auto count = static_cast<int>(link.inbox.take(buffer, static_cast<std::size_t>(n)));
    for (int attempts = kReceiveAttempts; count < n; --attempts) {
        // Still short after every attempt, or out of time: the reply did not
        // come in time, which the caller learns like a receive time-out.
        if (attempts == 0 || overall.expired()) {
            link.sink.set_system_error(EAGAIN);
            return 0;
        }
        const long got = link.inbox.fill(link.sock, overall);
        if (got < 0) {
            link.sink.set_system_error(errno);
            return 0;
        }
        if (got == 0) {
            set_end_of_stream(link.sink);
            return 0;
        }
        count += static_cast<int>(link.inbox.take(buffer + count, static_cast<std::size_t>(n - count)));
        if (count < n) Sleep(kReceivePauseMs);
    }
    return n;
}

int receive_until_0xc8(Link link, uint8_t* buffer, int max, const uint8_t* request) {
    // Taken first: request may be the same memory as buffer.
    const auto expected0 = static_cast<uint8_t>(request[0] + 0x20);
    const auto expected1 = static_cast<uint8_t>(request[1] + 0x20);
    link.sink.set_error(kOk);
    Inbox& inbox = link.inbox;
    const Deadline overall = read_deadline(inbox);
    int count = 0;
    int failures = 0;
    for (;;) {
        // Consume exactly through the first terminator, or the byte that
        // reaches max: what follows stays for the next reader.
        while (!inbox.empty()) {
            const uint8_t byte = inbox.pop();
            buffer[count++] = byte;
            if (byte == kTerminator) {
                if (count >= 2 && buffer[0] == expected0 && buffer[1] == expected1) return count;
                count = 0;  // a reply to another command: skip it
            } else if (count == max) {
                link.sink.set_error(kBadReply);
                return 0;
            }
        }
        if (overall.expired()) {
            link.sink.set_system_error(EAGAIN);
            return 0;
        }
        const long got = inbox.fill(link.sock, overall);
        if (got == 0) {
            set_end_of_stream(link.sink);
            return 0;
        }
        if (got < 0) {
            if (++failures >= kMaxConsecutiveFailures) {
                link.sink.set_system_error(errno);
                return 0;
            }
            Sleep(kReceivePauseMs);
            continue;
        }
        failures = 0;
    }
}

void ClearReceiveBuffer(Link link) {
    link.inbox.clear();
    const Deadline window = Deadline::after(kDrainWindow);
    // A sleeping wait wakes late by the kernel's timer slack; it sleeps only
    // until shortly before the window ends, and the last stretch is watched
    // without sleeping, so the drain ends on time without spinning for the
    // whole window.
    const Deadline sleep_until = Deadline::after(kDrainWindow - kDrainSpin);
    uint8_t scratch[4096];
    // What is already waiting goes first, however late this thread comes to
    // look: a caller held up past the window still drains it.
    const ssize_t first = recv(link.sock, scratch, sizeof(scratch), MSG_DONTWAIT);
    if (first == 0 || (first < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return;
    // Bounded by the window even when the peer keeps sending.
    while (!window.expired()) {
        const int ready = sleep_until.expired() ? wait_until(link.sock, POLLIN, Deadline::after_ms(0))
                                                : wait_until(link.sock, POLLIN, sleep_until);
        if (ready < 0) return;
        if (ready == 0) continue;
        if (recv(link.sock, scratch, sizeof(scratch), MSG_DONTWAIT) <= 0) return;
    }
}

void DiscardWaiting(Link link) {
    link.inbox.clear();
    uint8_t scratch[4096];
    // Bounded, so that a peer that keeps sending cannot hold the sender.
    for (int i = 0; i < kDiscardReceives; ++i) {
        if (recv(link.sock, scratch, sizeof(scratch), MSG_DONTWAIT) <= 0) return;
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

std::optional<uint32_t> hex_field(std::span<const uint8_t> text, int width) {
    if (width < 1 || width > 8 || text.size() < static_cast<std::size_t>(width)) return std::nullopt;
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        const uint8_t c = text[static_cast<std::size_t>(i)];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

Frame& Frame::push_hex(uint32_t value, int width) {
    uint8_t digits[8];
    write_hex(digits, value, width);
    for (int i = 0; i < width; ++i) push(digits[i]);
    return *this;
}

bool send_bytes(int sock, std::span<const uint8_t> bytes, const char* name, Sink sink) {
    if (send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
        sink.set_system_error(errno);
        if (name != nullptr) sink.log(kLogError, "%s send error.", name);
        return false;
    }
    return true;
}

bool send_request(Link link, std::span<const uint8_t> request, const char* name) {
    return send_bytes(link.sock, request, name, link.sink);
}

}  // namespace wexo
