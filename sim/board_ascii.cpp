// The board's ASCII frame helpers.
#include "board_ascii.hpp"

#include <algorithm>

namespace wexosim::detail {

bool is_ascii_request(const Bytes& f) { return f.size() >= 3 && f.back() == kEnd && f[0] >= 'A' && f[0] <= 'Z'; }

std::string ascii_letters(const Bytes& f) { return {static_cast<char>(f[0]), static_cast<char>(f[1])}; }

std::size_t params_end(const Bytes& f) { return f.size() - 1; }

Bytes ascii_params(const Bytes& f) { return Bytes(f.begin() + 2, f.begin() + static_cast<long>(params_end(f))); }

Bytes ascii_reply(const Bytes& request, const Bytes& payload) {
    Bytes out{static_cast<std::uint8_t>(request[0] + 0x20), static_cast<std::uint8_t>(request[1] + 0x20)};
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(kEnd);
    return out;
}

Bytes echo_reply(const Bytes& request) { return ascii_reply(request, ascii_params(request)); }

namespace {

int hex_digit(int c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

bool is_hex_digit(std::uint8_t c) { return hex_digit(c) >= 0; }

unsigned hex_field(const Bytes& f, std::size_t at, int width) {
    unsigned v = 0;
    for (std::size_t i = at; i < at + static_cast<std::size_t>(width) && i < f.size(); ++i) {
        int d = hex_digit(f[i]);
        if (d < 0) break;
        v = v << 4 | static_cast<unsigned>(d);
    }
    return at + static_cast<std::size_t>(width) <= f.size() ? v : 0;
}

std::optional<int> signed_hex_field(const Bytes& f, std::size_t at, int width) {
    const auto end = at + static_cast<std::size_t>(width);
    if (end > f.size() || std::any_of(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(end),
                                      [](std::uint8_t c) { return !is_hex_digit(c); }))
        return std::nullopt;
    const long v = hex_field(f, at, width), half = 1L << (4 * width - 1);
    return static_cast<int>(v >= half ? v - 2 * half : v);
}

void put_hex(Bytes& out, unsigned value, int width) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(kDigits[(value >> (4 * i)) & 0x0F]));
}

int groups(int channels, int at_least) { return std::max((channels + 3) / 4, at_least); }

Bytes group_bytes(std::uint32_t bits, int count) {
    Bytes out;
    for (int k = 0; k < count; ++k) out.push_back(small(static_cast<int>((bits >> (4 * k)) & 0x0F)));
    return out;
}

std::uint32_t group_bits(const Bytes& f, std::size_t from, std::size_t to) {
    std::uint32_t bits = 0;
    for (std::size_t i = from; i < to && i - from < 8; ++i) bits |= (f[i] & 0x0Fu) << (4 * (i - from));
    return bits;
}

}  // namespace wexosim::detail
