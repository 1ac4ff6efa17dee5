// The board's firmware loader. Its acknowledgements carry no meaning for the
// host, which only counts on their lengths.
#include "board_loader.hpp"

#include <algorithm>

namespace wexosim::detail {

namespace {

const Bytes kStart{'@', 'W', 'E', 'X'};
const Bytes kReady{'R', 'D', 'Y', '\r'};  // to the start
const Bytes kAck{'A', 'C', 'K', '\r'};    // to every fourth data item, from the first
const Bytes kDone{'O', 'K'};              // after the last data item
const Bytes kCommitted{'!'};              // to the commit

Bytes join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

std::size_t Loader::start_length(const Bytes& in) {
    std::size_t n = std::min(in.size(), kStart.size());
    if (!std::equal(in.begin(), in.begin() + static_cast<long>(n), kStart.begin())) return 1;  // not the loader
    return n == kStart.size() ? n : 0;
}

std::size_t Loader::frame_length(const Bytes& in) const {
    std::size_t need = phase_ == Phase::Size ? 3 : phase_ == Phase::Data ? 2 : 1;
    if (phase_ == Phase::Size && in[0] != 'S') return 1;  // not a size: the loader gives up
    return in.size() >= need ? need : 0;
}

std::optional<Bytes> Loader::answer(const Bytes& f) {
    switch (phase_) {
    case Phase::Off:
        if (f != kStart) return std::nullopt;
        phase_ = Phase::Size;
        return kReady;
    case Phase::Size:
        if (f.size() != 3) {
            phase_ = Phase::Off;
            return std::nullopt;
        }
        count_ = static_cast<std::size_t>(f[1] | f[2] << 8);
        item_ = 0;
        image_.clear();
        phase_ = count_ ? Phase::Data : Phase::Commit;
        return count_ ? std::nullopt : std::optional<Bytes>(kDone);
    case Phase::Data: {
        image_.insert(image_.end(), f.begin(), f.end());
        Bytes reply = item_ % 4 == 0 ? kAck : Bytes{};
        if (++item_ == count_) {
            phase_ = Phase::Commit;
            reply = join(reply, kDone);
        }
        return reply.empty() ? std::nullopt : std::optional<Bytes>(reply);
    }
    case Phase::Commit:
        phase_ = Phase::Off;
        if (f[0] != 'C') return std::nullopt;
        // The empty transfer that follows every image whose end record sits
        // at address 0 is taken and answered, and changes nothing.
        if (image_.empty()) return kCommitted;
        u_.st.firmware = image_;
        ++u_.st.firmware_loads;
        return kCommitted;
    }
    return std::nullopt;
}

}  // namespace wexosim::detail
