// The gateway's configuration: the TOML file read into plain values, every
// key checked (unknown keys too, so that a typo is an error with its line).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "wexo.hpp"

namespace wexo::gateway {

// A configuration that cannot be used: what and where ("FILE:LINE: text").
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The kinds of channel a unit has, and their names in topics, metrics and
// the plant view's data ("di", "do", ...).
enum class Kind { kDI, kDO, kAI, kAO, kCounter };
inline constexpr std::array<Kind, 5> kKinds = {Kind::kDI, Kind::kDO, Kind::kAI, Kind::kAO, Kind::kCounter};
inline constexpr std::array<const char*, kKinds.size()> kKindNames = {"di", "do", "ai", "ao", "counter"};
inline const char* kind_name(Kind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }
std::optional<Kind> kind_from_name(const std::string& name);

// One output named as "do/0" or "ao/1".
struct OutputRef {
    Kind kind = Kind::kDO;
    int channel = 0;
    auto operator<=>(const OutputRef&) const = default;
};
std::optional<OutputRef> parse_output(const std::string& text);
std::string output_text(const OutputRef& ref);

struct UnitConfig {
    std::string name;  // empty: "unit-<mac>" once the unit is known
    // How it is found: host (direct connect), mac or id + model (from a
    // search); given by these keys or by one address text, which fills them.
    wexo::UnitAddress address;  // the same as the library opens it
    std::string host;
    int port = 0;  // data port for host; 0 asks the module
    std::string mac;  // "02:57:58:00:00:02", normalised to lower case
    std::optional<int> id;
    std::optional<int> model;  // expected model: the plan without a unit; a unit of another model is refused
    std::vector<OutputRef> writable;
    std::map<OutputRef, double> safe;  // safe values of outputs
    double deadband = 0.0;            // analog change that is reported (V or mA)
    int line = 0;                     // line of its [[unit]] in the file
};

struct MqttConfig {
    std::string url = "mqtt://127.0.0.1:1883";
    std::string host = "127.0.0.1";
    int port = 1883;
    bool tls = false;
    std::string prefix = "wexo";
    int qos = 1;
    std::string client_id;  // default "wexo-gateway-<site>-<name>"
    std::string username;
    std::string password_file;
    std::string ca_file, cert_file, key_file;
    int keepalive_s = 30;
    int reconnect_min_s = 1;
    int reconnect_max_s = 30;
    bool sparkplug = false;
    std::string primary_host;  // Sparkplug primary host whose STATE is honoured
};

struct QueueConfig {
    std::string path;  // directory of the outage queue files; empty: memory only
    std::int64_t max_bytes = 16 * 1024 * 1024;
    int max_age_s = 24 * 3600;
    bool drop_oldest = true;  // "oldest" (default) or "newest"
    int replay_per_s = 500;
};

struct Config {
    std::string file;
    std::string site;
    std::string name;
    int poll_ms = 100;
    int analog_poll_ms = 1000;
    int counter_poll_ms = 1000;
    bool search = false;
    int search_window_ms = 1000;
    int rescan_s = 0;
    int timeout_ms = 200;
    int retry_min_ms = 500;
    int retry_max_ms = 30000;
    int fail_after = 2;  // failed poll rounds in a row that make a unit offline
    std::string interface;  // local IPv4 address for every unit socket
    std::string audit_log;  // file; empty: audit lines go to the log
    int safe_after_s = 0;   // 0: no safe state
    int write_interval_ms = 100;  // per output: the shortest time between two writes
    std::string http_token;       // the page's writes need it when set
    std::string http_read_token;  // the page's reads need it (or http_token) when set
    MqttConfig mqtt;
    QueueConfig queue;
    std::vector<UnitConfig> units;

    // "<prefix>/<site>/<name>"
    std::string base_topic() const { return mqtt.prefix + "/" + site + "/" + name; }
};

// Reads and checks a configuration file; ConfigError on any fault.
Config load_config(const std::string& path);
// The same from text (file names the text in messages).
Config parse_config(const std::string& text, const std::string& file);

// "02:57:58:00:00:02" -> bytes; nullopt when it is not six hex pairs.
std::optional<std::array<std::uint8_t, 6>> parse_mac(const std::string& text);
std::string mac_text(const std::array<std::uint8_t, 6>& mac);

}  // namespace wexo::gateway
