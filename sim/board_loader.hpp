// The board's firmware loader: entered with "@WEX" on the data port, it
// takes a size, the data items and a commit, then the board is back to
// normal commands.
#pragma once

#include "internal.hpp"

namespace wexosim::detail {

class Loader {
public:
    explicit Loader(Unit& u) : u_(u) {}
    bool active() const { return phase_ != Phase::Off; }
    // The bytes at the front of `in` start the loader ("@WEX"); 0: not yet known.
    static std::size_t start_length(const Bytes& in);
    std::size_t frame_length(const Bytes& in) const;  // while active
    std::optional<Bytes> answer(const Bytes& frame);  // the start frame or any while active

private:
    enum class Phase { Off, Size, Data, Commit };
    Unit& u_;
    Phase phase_ = Phase::Off;
    std::size_t count_ = 0;
    std::size_t item_ = 0;
    Bytes image_;
};

}  // namespace wexosim::detail
