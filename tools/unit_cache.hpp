// What the tool remembers of each unit between runs: the board ID and model
// its board reported, by the MAC address of its network module. A board of
// the ASCII generation answers only the second identification exchange, so
// asking it costs a whole --timeout; a remembered identity costs nothing.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace wexo::cli {

struct Identity {
    int id = 255;
    int model = -1;
};

using Mac = std::array<unsigned char, 6>;

// The cache file: $XDG_CACHE_HOME/wexo/units, else ~/.cache/wexo/units;
// empty when neither is set.
std::string cache_path();

// The remembered identity of the unit with this MAC address, if any.
std::optional<Identity> cached_identity(const Mac& mac);
// Remembers (or, with no identity, forgets) a unit. A cache that cannot be
// written is no failure of the command: it only stays as slow as before.
void remember_identity(const Mac& mac, std::optional<Identity> identity);

} // namespace wexo::cli
