// The board's 4096-byte EEPROM: MR (read) and MW (write), three hex digits
// of address, one of count, two per data byte. The unit settings of the
// EEPROM boards and the analog sampling-rate code (byte 73) live in it; a
// module restart leaves it alone. Image files are raw 4096-byte dumps.
#include "board_ascii.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace wexosim {

Eeprom read_eeprom_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() != kEepromSize)
        throw std::runtime_error(path + ": " + std::to_string(bytes.size()) + " bytes, not " +
                                 std::to_string(kEepromSize));
    Eeprom out{};
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

void write_eeprom_file(const std::string& path, const Eeprom& eeprom) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(eeprom.data()), static_cast<std::streamsize>(eeprom.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

namespace detail {

namespace {

constexpr std::size_t kHeader = 6;  // letters, three address digits, count digit

// Boards that keep settings in EEPROM layouts, and the analog input boards
// (their sampling-rate code).
bool has_eeprom(const Unit& u) {
    const BoardModel m = board_model(u.st.model);
    return m.analog_inputs > 0 || std::any_of(m.settings.begin(), m.settings.end(), [](int v) { return v == 3 || v == 4; });
}

bool all_hex(const Bytes& f, std::size_t from, std::size_t to) {
    return std::all_of(f.begin() + static_cast<long>(from), f.begin() + static_cast<long>(to), is_hex_digit);
}

std::size_t address(const Bytes& f, std::size_t i) { return (hex_field(f, 2, 3) + i) % kEepromSize; }

std::optional<Bytes> read(Unit& u, const Bytes& f) {
    if (f.size() != kHeader + 1 || !all_hex(f, 2, kHeader)) return std::nullopt;
    Bytes payload(f.begin() + 2, f.begin() + kHeader);
    for (std::size_t i = 0; i < hex_field(f, 5, 1); ++i) put_hex(payload, u.st.eeprom[address(f, i)], 2);
    return ascii_reply(f, payload);
}

std::optional<Bytes> write(Unit& u, const Bytes& f) {
    const std::size_t n = f.size() > kHeader && all_hex(f, 5, 6) ? hex_field(f, 5, 1) : 0;
    if (f.size() != kHeader + 2 * n + 1 || !all_hex(f, 2, f.size() - 1)) return ascii_reply(f, {'N', 'G'});
    for (std::size_t i = 0; i < n; ++i)
        u.st.eeprom[address(f, i)] = static_cast<std::uint8_t>(hex_field(f, kHeader + 2 * i, 2));
    return ascii_reply(f, {'O', 'K'});
}

}  // namespace

void install_eeprom_commands(Unit& unit) {
    Unit* u = &unit;
    u->ascii["MR"] = [u](const Bytes& f) { return has_eeprom(*u) ? read(*u, f) : std::nullopt; };
    u->ascii["MW"] = [u](const Bytes& f) { return has_eeprom(*u) ? write(*u, f) : std::nullopt; };
}

}  // namespace detail

}  // namespace wexosim
