// One way to bound every wait of the library: a point in time after which a
// wait, a reader or a whole exchange gives up.
#pragma once

#include <poll.h>

#include <chrono>

namespace wexo {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // A deadline ms milliseconds from now; 0 or less is already due.
    static Deadline after_ms(long long ms) {
        return Deadline(Clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0));
    }
    static Deadline after(Clock::duration span) { return Deadline(Clock::now() + span); }

    // What is left, never negative.
    Clock::duration left() const {
        const auto rest = at_ - Clock::now();
        return rest > Clock::duration::zero() ? rest : Clock::duration::zero();
    }
    bool expired() const { return Clock::now() >= at_; }
    Deadline earliest(const Deadline& other) const { return at_ <= other.at_ ? *this : other; }

private:
    explicit Deadline(Clock::time_point at) : at_(at) {}
    Clock::time_point at_;
};

// Waits until fd reports one of events or the deadline passes: 1 ready,
// 0 expired, -1 failed with errno. An interrupted wait resumes with what is
// left, and the wait is exact to the nanosecond (the drain waits 1 ms).
int wait_until(int fd, short events, const Deadline& deadline);

}  // namespace wexo
