#include "core/deadline.hpp"

#include <cerrno>
#include <ctime>

namespace wexo {

int wait_until(int fd, short events, const Deadline& deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.left());
        const timespec wait{static_cast<time_t>(left.count() / 1000000000),
                            static_cast<long>(left.count() % 1000000000)};
        pollfd p{fd, events, 0};
        const int ready = ppoll(&p, 1, &wait, nullptr);
        if (ready > 0) return 1;
        if (ready == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace wexo
