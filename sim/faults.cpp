// Shaping of replies under an injected fault.
#include "internal.hpp"

namespace wexosim::detail {

namespace {

// Junk that never contains the ASCII terminator 0xC8.
Bytes junk(std::size_t n, std::uint8_t seed) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
    for (auto& b : out)
        if (b == 0xC8) b = 0x3F;
    return out;
}

bool is_ascii_reply(const Bytes& r) { return r.size() >= 2 && r[0] >= 'a' && r[0] <= 'z'; }

}  // namespace

std::vector<Piece> shape_reply(const Fault& f, const std::optional<Bytes>& reply) {
    const Bytes r = reply.value_or(Bytes{});
    auto one = [](Bytes b, bool close = false) {
        std::vector<Piece> v;
        if (!b.empty() || close) v.push_back({std::move(b), Millis{0}, close});
        return v;
    };
    switch (f.kind) {
    case FaultKind::None:
        return one(r);
    case FaultKind::Silence:
        return {};
    case FaultKind::Split: {
        std::vector<Piece> v;
        std::size_t step = f.piece ? f.piece : 1;
        for (std::size_t i = 0; i < r.size(); i += step)
            v.push_back({Bytes(r.begin() + static_cast<long>(i),
                               r.begin() + static_cast<long>(std::min(r.size(), i + step))),
                         i ? f.pause : Millis{0}, false});
        return v;
    }
    case FaultKind::Stale:
    case FaultKind::Foreign: {
        Bytes pre = f.bytes;
        if (pre.empty())
            pre = f.kind == FaultKind::Stale ? Bytes{0x01, 0x02, 0x03, 0x04, 0x05}
                                             : Bytes{'a', 'i', 0x20, 0x20, 0xC8};
        pre.insert(pre.end(), r.begin(), r.end());
        return one(pre);
    }
    case FaultKind::Overlong: {
        Bytes b = junk(f.length ? f.length : 300, 0x30);
        for (std::size_t i = 0; i < 2 && i < r.size() && i < b.size(); ++i) b[i] = r[i];
        return one(b);
    }
    case FaultKind::Garbage:
        return one(f.bytes.empty() ? junk(std::max<std::size_t>(r.size(), 2), 0x5A) : f.bytes);
    case FaultKind::CloseMidReply: {
        std::size_t n = std::min(r.size(), f.length ? f.length : r.size() / 2);
        return one(Bytes(r.begin(), r.begin() + static_cast<long>(n)), true);
    }
    case FaultKind::Truncate: {
        std::size_t n = std::min(r.size(), f.length ? f.length : (r.empty() ? 0 : r.size() - 1));
        return one(Bytes(r.begin(), r.begin() + static_cast<long>(n)));
    }
    case FaultKind::WrongEcho: {
        Bytes b = r;
        if (is_ascii_reply(b))
            b[0] = static_cast<std::uint8_t>(b[0] == 'z' ? 'a' : b[0] + 1);
        else if (!b.empty())
            b[0] ^= 0x01;
        return one(b);
    }
    case FaultKind::Raw:
        return one(f.bytes);
    case FaultKind::Drip: {
        // Every byte on time, none ever ending the frame: only an overall
        // deadline on the reader ends the wait.
        Bytes all = f.bytes.empty() ? r : f.bytes;
        Bytes tail = junk(f.length, 0x41);
        all.insert(all.end(), tail.begin(), tail.end());
        std::vector<Piece> v;
        for (std::size_t i = 0; i < all.size(); ++i) v.push_back({Bytes{all[i]}, i ? f.pause : Millis{0}, false});
        return v;
    }
    case FaultKind::Flood: {
        const Bytes frame = f.bytes.empty() ? Bytes{'a', 'i', 0x20, 0xC8} : f.bytes;
        std::vector<Piece> v;
        for (std::size_t i = 0; i < f.frames; ++i) v.push_back({frame, i ? f.pause : Millis{0}, false});
        return v;
    }
    }
    return one(r);
}

}  // namespace wexosim::detail
