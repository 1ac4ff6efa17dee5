#include "unit_cache.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "output.hpp"
#include "wexo.h"

namespace wexo::cli {

namespace {

// One line per unit: "02:57:58:00:00:02 3 17" (MAC, board ID, model code).
using Table = std::map<std::string, Identity>;

Table load(const std::string& path) {
    Table table;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string mac;
        Identity identity;
        // Lines that do not read back whole are dropped: a damaged cache
        // costs an identification, never a wrong model.
        if (!(words >> mac >> identity.id >> identity.model) || mac.size() != 17 || identity.id < 0 ||
            identity.id > 15 || identity.model < 0 || identity.model >= WEXO_MODEL_COUNT)
            continue;
        table[mac] = identity;
    }
    return table;
}

bool make_dirs(const std::string& dir) {
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

} // namespace

std::string cache_path() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/wexo/units";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.cache/wexo/units";
    return {};
}

std::optional<Identity> cached_identity(const Mac& mac) {
    const std::string path = cache_path();
    if (path.empty()) return std::nullopt;
    const Table table = load(path);
    const auto it = table.find(mac_text(mac.data()));
    if (it == table.end()) return std::nullopt;
    return it->second;
}

void remember_identity(const Mac& mac, std::optional<Identity> identity) {
    const std::string path = cache_path();
    if (path.empty()) return;
    Table table = load(path);
    const std::string key = mac_text(mac.data());
    if (identity) table[key] = *identity; else table.erase(key);
    if (!make_dirs(path.substr(0, path.rfind('/')))) return;
    // Written aside and renamed, so that a run reading it meanwhile sees the
    // old cache or the new one, never half of one.
    const std::string temporary = path + "." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& [mac_key, entry] : table)
            out << mac_key << ' ' << entry.id << ' ' << entry.model << '\n';
        if (!out.flush()) {
            std::remove(temporary.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) std::remove(temporary.c_str());
}

} // namespace wexo::cli
