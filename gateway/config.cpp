#include "config.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <toml++/toml.h>

namespace wexo::gateway {

namespace {

// Checks one table: every key known, every value of the right type and range.
class Reader {
public:
    Reader(const toml::table& table, std::string file, std::string section, int line)
        : table_(table), file_(std::move(file)), section_(std::move(section)), line_(line) {}

    [[noreturn]] void fail(const toml::node* node, const std::string& what) const {
        const int line = node != nullptr ? static_cast<int>(node->source().begin.line) : line_;
        throw ConfigError(file_ + ":" + std::to_string(line) + ": " + what);
    }

    // Fails on a key that is not in known.
    void only(std::initializer_list<const char*> known) const {
        for (const auto& [key, node] : table_) {
            const std::string_view name = key.str();
            if (std::none_of(known.begin(), known.end(), [&](const char* k) { return name == k; }))
                fail(&node, "unknown key \"" + std::string(name) + "\" in [" + section_ + "]");
        }
    }

    const toml::node* node(const char* key) const { return table_.get(key); }

    void text(const char* key, std::string& out) const {
        if (const toml::node* n = node(key)) {
            if (!n->is_string()) fail(n, where(key) + " must be a string");
            out = **n->as_string();
        }
    }
    void number(const char* key, int& out, long long low, long long high) const {
        if (const toml::node* n = node(key)) {
            if (!n->is_integer()) fail(n, where(key) + " must be an integer");
            const long long v = **n->as_integer();
            if (v < low || v > high)
                fail(n, where(key) + " must be " + std::to_string(low) + ".." + std::to_string(high));
            out = static_cast<int>(v);
        }
    }
    void big(const char* key, std::int64_t& out, long long low, long long high) const {
        if (const toml::node* n = node(key)) {
            if (!n->is_integer()) fail(n, where(key) + " must be an integer");
            const long long v = **n->as_integer();
            if (v < low || v > high)
                fail(n, where(key) + " must be " + std::to_string(low) + ".." + std::to_string(high));
            out = v;
        }
    }
    void real(const char* key, double& out) const {
        if (const toml::node* n = node(key)) {
            if (!n->is_number()) fail(n, where(key) + " must be a number");
            out = n->is_integer() ? static_cast<double>(**n->as_integer()) : **n->as_floating_point();
            if (out < 0) fail(n, where(key) + " must not be negative");
        }
    }
    void flag(const char* key, bool& out) const {
        if (const toml::node* n = node(key)) {
            if (!n->is_boolean()) fail(n, where(key) + " must be true or false");
            out = **n->as_boolean();
        }
    }
    std::string where(const char* key) const { return section_ + "." + key; }

private:
    const toml::table& table_;
    std::string file_;
    std::string section_;
    int line_;
};

const toml::table& section(const toml::table& root, const char* name, const Reader& top) {
    static const toml::table empty;
    const toml::node* n = root.get(name);
    if (n == nullptr) return empty;
    if (!n->is_table()) top.fail(n, std::string("[") + name + "] must be a table");
    return *n->as_table();
}

void read_gateway(const toml::table& t, Config& c, const std::string& file) {
    const Reader r(t, file, "gateway", 1);
    r.only({"site", "name", "poll_ms", "analog_poll_ms", "counter_poll_ms", "search", "search_window_ms",
            "rescan_s", "timeout_ms", "retry_min_ms", "retry_max_ms", "fail_after", "interface", "audit_log",
            "safe_after_s", "write_interval_ms", "http_token", "http_read_token"});
    r.text("site", c.site);
    r.text("name", c.name);
    r.number("poll_ms", c.poll_ms, 10, 3600000);
    r.number("analog_poll_ms", c.analog_poll_ms, 10, 3600000);
    r.number("counter_poll_ms", c.counter_poll_ms, 10, 3600000);
    r.flag("search", c.search);
    r.number("search_window_ms", c.search_window_ms, 10, 60000);
    r.number("rescan_s", c.rescan_s, 0, 86400);
    r.number("timeout_ms", c.timeout_ms, 10, 60000);
    r.number("retry_min_ms", c.retry_min_ms, 10, 3600000);
    r.number("retry_max_ms", c.retry_max_ms, 10, 3600000);
    r.number("fail_after", c.fail_after, 1, 100);
    r.text("interface", c.interface);
    r.text("audit_log", c.audit_log);
    r.number("safe_after_s", c.safe_after_s, 0, 86400);
    r.number("write_interval_ms", c.write_interval_ms, 0, 3600000);
    r.text("http_token", c.http_token);
    r.text("http_read_token", c.http_read_token);
    // Names are topic levels: no separators or wildcards.
    for (const auto* key : {"site", "name"}) {
        const std::string& v = std::string(key) == "site" ? c.site : c.name;
        if (v.empty()) r.fail(r.node(key), std::string("gateway.") + key + " is required");
        if (v.find_first_of("/+#") != std::string::npos)
            r.fail(r.node(key), std::string("gateway.") + key + " may not hold '/', '+' or '#'");
    }
    if (c.retry_max_ms < c.retry_min_ms) r.fail(r.node("retry_max_ms"), "gateway.retry_max_ms is below retry_min_ms");
}

void read_mqtt(const toml::table& t, Config& c, const std::string& file) {
    const Reader r(t, file, "mqtt", 1);
    r.only({"url", "prefix", "qos", "client_id", "username", "password_file", "ca_file", "cert_file", "key_file",
            "keepalive_s", "reconnect_min_s", "reconnect_max_s", "sparkplug", "primary_host"});
    MqttConfig& m = c.mqtt;
    r.text("url", m.url);
    r.text("prefix", m.prefix);
    r.number("qos", m.qos, 0, 2);
    r.text("client_id", m.client_id);
    r.text("username", m.username);
    r.text("password_file", m.password_file);
    r.text("ca_file", m.ca_file);
    r.text("cert_file", m.cert_file);
    r.text("key_file", m.key_file);
    r.number("keepalive_s", m.keepalive_s, 5, 3600);
    r.number("reconnect_min_s", m.reconnect_min_s, 1, 3600);
    r.number("reconnect_max_s", m.reconnect_max_s, 1, 3600);
    r.flag("sparkplug", m.sparkplug);
    r.text("primary_host", m.primary_host);
    // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
    std::string rest;
    if (m.url.rfind("mqtt://", 0) == 0) {
        rest = m.url.substr(7);
        m.tls = false;
        m.port = 1883;
    } else if (m.url.rfind("mqtts://", 0) == 0) {
        rest = m.url.substr(8);
        m.tls = true;
        m.port = 8883;
    } else {
        r.fail(r.node("url"), "mqtt.url must start with mqtt:// or mqtts://");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit) ||
            std::stoi(port) < 1 || std::stoi(port) > 65535)
            r.fail(r.node("url"), "mqtt.url has a bad port: " + port);
        m.port = std::stoi(port);
        rest.resize(colon);
    }
    if (rest.empty() || rest.find('/') != std::string::npos) r.fail(r.node("url"), "mqtt.url has no host");
    m.host = rest;
    if (m.prefix.empty() || m.prefix.find_first_of("+#") != std::string::npos)
        r.fail(r.node("prefix"), "mqtt.prefix must be a topic without wildcards");
    if (m.tls && m.ca_file.empty()) r.fail(r.node("url"), "mqtts:// needs mqtt.ca_file");
    if (m.cert_file.empty() != m.key_file.empty())
        r.fail(r.node(m.cert_file.empty() ? "key_file" : "cert_file"), "mqtt.cert_file and mqtt.key_file go together");
    if (!m.password_file.empty() && m.username.empty())
        r.fail(r.node("password_file"), "mqtt.password_file needs mqtt.username");
    if (m.client_id.empty()) m.client_id = "wexo-gateway-" + c.site + "-" + c.name;
}

void read_queue(const toml::table& t, Config& c, const std::string& file) {
    const Reader r(t, file, "queue", 1);
    r.only({"path", "max_bytes", "max_age_s", "drop", "replay_per_s"});
    r.text("path", c.queue.path);
    r.big("max_bytes", c.queue.max_bytes, 4096, 1LL << 40);
    r.number("max_age_s", c.queue.max_age_s, 1, 365 * 86400);
    r.number("replay_per_s", c.queue.replay_per_s, 1, 1000000);
    std::string drop = "oldest";
    r.text("drop", drop);
    if (drop != "oldest" && drop != "newest") r.fail(r.node("drop"), "queue.drop must be \"oldest\" or \"newest\"");
    c.queue.drop_oldest = drop == "oldest";
}

void read_outputs(const Reader& r, const toml::node* n, const char* key, std::vector<OutputRef>& out) {
    if (n == nullptr) return;
    const toml::array* list = n->as_array();
    if (list == nullptr) r.fail(n, r.where(key) + " must be a list like [\"do/0\", \"ao/1\"]");
    for (const toml::node& item : *list) {
        const auto ref = item.is_string() ? parse_output(**item.as_string()) : std::nullopt;
        if (!ref) r.fail(&item, r.where(key) + ": outputs are written \"do/N\" or \"ao/N\"");
        out.push_back(*ref);
    }
}

// The unit's address text (wexo::UnitAddress) in place of host, port, mac
// and id; model stays the model expected of a unit named by MAC.
void read_address(const Reader& r, UnitConfig& u) {
    const toml::node* node = r.node("address");
    for (const char* key : {"host", "port", "mac", "id"})
        if (r.node(key)) r.fail(r.node(key), r.where(key) + " does not go with address, which names the unit");
    std::string text;
    r.text("address", text);
    const auto address = wexo::UnitAddress::parse(text);
    using K = wexo::UnitAddress::Kind;
    if (!address)
        r.fail(node, r.where("address") + ": \"" + text +
                         "\" is not a unit address (a MAC or IPv4 address, id=N,model=M, or host=NAME[,port=P][,model=M])");
    if (address->kind == K::index)
        r.fail(node, r.where("address") + ": a place in a search changes; name the unit by MAC, host, or id with model");
    if (address->kind == K::id_model && (address->id < 0 || address->model < 0))
        r.fail(node, r.where("address") + ": a unit named by id and model needs both");
    if (address->id > 15) r.fail(node, r.where("address") + ": id must be 0..15");
    if (address->model > 47) r.fail(node, r.where("address") + ": model must be 0..47");
    if (address->model >= 0) {
        if (u.model) r.fail(r.node("model"), r.where("model") + ": the address gives the model already");
        u.model = address->model;
    }
    if (address->kind == K::mac) u.mac = mac_text(address->mac);
    if (address->direct()) {
        u.host = address->host;
        u.port = address->data_port;
    }
    if (address->id >= 0) u.id = address->id;
}

// The address the library opens, from the keys that name the unit.
wexo::UnitAddress unit_address(const UnitConfig& u) {
    wexo::UnitAddress a;
    if (!u.host.empty()) {
        a.kind = wexo::UnitAddress::Kind::host;
        a.host = u.host;
        a.data_port = u.port;
    } else if (!u.mac.empty()) {
        a.kind = wexo::UnitAddress::Kind::mac;
        a.mac = *parse_mac(u.mac);
        return a;  // model: what the unit must be, checked once it is connected
    } else {
        a.kind = wexo::UnitAddress::Kind::id_model;
    }
    a.model = u.model.value_or(-1);
    if (a.model >= 0) a.id = u.id.value_or(-1);
    return a;
}

UnitConfig read_unit(const toml::table& t, const std::string& file, int index) {
    UnitConfig u;
    u.line = static_cast<int>(t.source().begin.line);
    const Reader r(t, file, "unit #" + std::to_string(index + 1), u.line);
    r.only({"name", "address", "host", "port", "mac", "id", "model", "writable", "safe", "deadband"});
    r.text("name", u.name);
    r.text("host", u.host);
    r.number("port", u.port, 0, 65535);
    r.text("mac", u.mac);
    int v = 0;
    if (r.node("id")) r.number("id", v, 0, 15), u.id = v;
    if (r.node("model")) r.number("model", v, 0, 47), u.model = v;
    r.real("deadband", u.deadband);
    read_outputs(r, r.node("writable"), "writable", u.writable);
    if (const toml::node* n = r.node("safe")) {
        const toml::table* safe = n->as_table();
        if (safe == nullptr) r.fail(n, r.where("safe") + " must be a table like { \"do/0\" = 0 }");
        for (const auto& [key, value] : *safe) {
            const auto ref = parse_output(std::string(key.str()));
            if (!ref || !value.is_number()) r.fail(&value, r.where("safe") + ": entries are \"do/N\" = 0|1 or \"ao/N\" = VOLTS");
            u.safe[*ref] = value.is_integer() ? static_cast<double>(**value.as_integer()) : **value.as_floating_point();
        }
    }
    if (!u.name.empty() && (u.name.find_first_of("/+#") != std::string::npos || u.name == "status"))
        r.fail(r.node("name"), "unit name \"" + u.name + "\" may not hold '/', '+', '#' or be \"status\"");
    if (!u.mac.empty()) {
        const auto mac = parse_mac(u.mac);
        if (!mac) r.fail(r.node("mac"), "unit mac must be six hex pairs like 02:57:58:00:00:02");
        u.mac = mac_text(*mac);
    }
    for (const auto& [output, value] : u.safe) {
        if (std::find(u.writable.begin(), u.writable.end(), output) == u.writable.end())
            r.fail(r.node("safe"), "safe value of " + output_text(output) + ", which is not in writable");
        if (output.kind == Kind::kDO && value != 0 && value != 1)
            r.fail(r.node("safe"), "safe value of " + output_text(output) + " must be 0 or 1");
    }
    if (r.node("address")) {
        read_address(r, u);
    } else {
        const int ways = !u.host.empty() + !u.mac.empty() + u.id.has_value();
        if (ways != 1) r.fail(nullptr, "a [[unit]] is named by exactly one of host, mac, or id with model");
        if (u.id && !u.model) r.fail(r.node("id"), "a unit named by id needs its model as well");
    }
    u.address = unit_address(u);
    return u;
}

}  // namespace

std::optional<Kind> kind_from_name(const std::string& name) {
    for (Kind k : kKinds)
        if (name == kind_name(k)) return k;
    return std::nullopt;
}

std::optional<OutputRef> parse_output(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const auto kind = kind_from_name(text.substr(0, slash));
    const std::string ch = text.substr(slash + 1);
    if (!kind || (*kind != Kind::kDO && *kind != Kind::kAO) || ch.empty() || ch.size() > 2 ||
        !std::all_of(ch.begin(), ch.end(), ::isdigit))
        return std::nullopt;
    return OutputRef{*kind, std::stoi(ch)};
}

std::string output_text(const OutputRef& ref) { return std::string(kind_name(ref.kind)) + "/" + std::to_string(ref.channel); }

std::optional<std::array<std::uint8_t, 6>> parse_mac(const std::string& text) {
    std::array<std::uint8_t, 6> mac{};
    unsigned b[6];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6)
        return std::nullopt;
    for (int i = 0; i < 6; ++i) mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
    return mac;
}

std::string mac_text(const std::array<std::uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

Config parse_config(const std::string& text, const std::string& file) {
    toml::table root;
    try {
        root = toml::parse(text, file);
    } catch (const toml::parse_error& e) {
        throw ConfigError(file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    Config c;
    c.file = file;
    const Reader top(root, file, "top level", 1);
    top.only({"gateway", "mqtt", "queue", "unit"});
    if (!root.get("gateway")) throw ConfigError(file + ":1: [gateway] with site and name is required");
    read_gateway(section(root, "gateway", top), c, file);
    read_mqtt(section(root, "mqtt", top), c, file);
    read_queue(section(root, "queue", top), c, file);
    if (const toml::node* units = root.get("unit")) {
        const toml::array* list = units->as_array();
        if (list == nullptr || !list->is_array_of_tables()) top.fail(units, "units are written [[unit]]");
        int i = 0;
        std::set<std::string> names;
        for (const toml::node& n : *list) {
            UnitConfig u = read_unit(*n.as_table(), file, i++);
            if (!u.name.empty() && !names.insert(u.name).second)
                throw ConfigError(file + ":" + std::to_string(u.line) + ": unit name \"" + u.name + "\" is used twice");
            c.units.push_back(std::move(u));
        }
    }
    // Units named by MAC or ID are found by a search; so are all units when none is named.
    const bool needs_search = std::any_of(c.units.begin(), c.units.end(), [](const UnitConfig& u) { return u.host.empty(); });
    const toml::node* search = section(root, "gateway", top).get("search");
    if (search == nullptr) c.search = needs_search || c.units.empty();
    else if (!c.search && needs_search)
        top.fail(search, "gateway.search = false, but units named by mac or id are found by a search");
    // A searching gateway looks again every minute unless told otherwise, so
    // that a unit missing at start is found.
    if (c.search && section(root, "gateway", top).get("rescan_s") == nullptr) c.rescan_s = 60;
    return c;
}

Config load_config(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ConfigError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), path);
}

}  // namespace wexo::gateway
