#include "web_server.hpp"

#include <civetweb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

namespace wexo::gateway {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxBody = 16 * 1024;
constexpr int kMaxStreams = 32;
// A stream that falls this far behind gets a fresh snapshot instead.
constexpr std::size_t kMaxQueued = 2000;
// Proxies and browsers drop a silent stream after a minute or so.
constexpr auto kKeepAlive = std::chrono::seconds(15);

bool same_secret(const std::string& a, const std::string& b) {
    // Time independent of where the first difference is.
    unsigned diff = static_cast<unsigned>(a.size() ^ b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    return diff == 0;
}

// One event stream's pending events.
struct StreamQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> events;
    bool overflowed = false;
    bool closing = false;

    void push(std::string event) {
        {
            std::lock_guard lock(mutex);
            if (events.size() >= kMaxQueued) {
                events.clear();
                overflowed = true;
            } else {
                events.push_back(std::move(event));
            }
        }
        wake.notify_one();
    }
    void close() {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        wake.notify_one();
    }
};

}  // namespace

struct WebServer::State {
    WebBackend& backend;
    WebOptions options;
    mg_context* context = nullptr;
    std::atomic<int> streams{0};
    std::mutex queues_mutex;
    std::set<std::shared_ptr<StreamQueue>> queues;
    bool stopping = false;

    State(WebBackend& b, WebOptions o) : backend(b), options(std::move(o)) {}
};

Access access_for(const WebOptions& options, const std::string& presented) {
    Access a;
    const bool is_writer = !options.token.empty() && same_secret(options.token, presented);
    const bool is_reader = !options.read_token.empty() && same_secret(options.read_token, presented);
    a.write = options.token.empty() || is_writer;
    a.read = options.read_token.empty() || is_reader || is_writer;
    return a;
}

bool parse_listen(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    host = text.substr(0, colon);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::stoi(digits);
    return port <= 65535 && !host.empty();
}

namespace {

void send_json(mg_connection* conn, int status, const json& body, const std::string& extra = {}) {
    const std::string text = body.dump();
    mg_printf(conn,
              "HTTP/1.1 %d %s\r\nContent-Type: application/json\r\nContent-Length: %zu\r\n"
              "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n%s\r\n",
              status, mg_get_response_code_text(conn, status), text.size(), extra.c_str());
    mg_write(conn, text.data(), text.size());
}

void send_error(mg_connection* conn, int status, const std::string& message) {
    send_json(conn, status, json{{"ok", false}, {"message", message}});
}

std::string presented_token(mg_connection* conn) {
    if (const char* auth = mg_get_header(conn, "Authorization")) {
        constexpr std::string_view bearer = "Bearer ";
        if (std::strncmp(auth, bearer.data(), bearer.size()) == 0) return auth + bearer.size();
    }
    if (const char* cookies = mg_get_header(conn, "Cookie")) {
        char value[512];
        if (mg_get_cookie(cookies, "wexo_token", value, sizeof value) > 0) return value;
    }
    return {};
}

// Writes from a page of another site are refused: a browser always sends
// Origin on a cross-site POST, and its host must be ours.
bool same_origin(mg_connection* conn) {
    const char* origin = mg_get_header(conn, "Origin");
    if (!origin) return true;
    const char* host = mg_get_header(conn, "Host");
    if (!host) return false;
    std::string o(origin);
    const auto scheme = o.find("://");
    if (scheme != std::string::npos) o = o.substr(scheme + 3);
    return o == host;
}

bool json_request(mg_connection* conn) {
    const char* type = mg_get_header(conn, "Content-Type");
    return type && std::strncmp(type, "application/json", 16) == 0;
}

std::optional<json> read_body(mg_connection* conn) {
    std::string body;
    char chunk[4096];
    for (;;) {
        const int n = mg_read(conn, chunk, sizeof chunk);
        if (n <= 0) break;
        body.append(chunk, static_cast<std::size_t>(n));
        if (body.size() > kMaxBody) return std::nullopt;
    }
    json parsed = json::parse(body, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
}

std::vector<std::string> split_path(const std::string& uri) {
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= uri.size()) {
        const auto end = uri.find('/', start);
        const std::string raw = uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::vector<char> decoded(raw.size() + 1);
        const int n = mg_url_decode(raw.c_str(), static_cast<int>(raw.size()), decoded.data(),
                                    static_cast<int>(decoded.size()), 0);
        parts.emplace_back(decoded.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

bool write_all(mg_connection* conn, const std::string& text) {
    return mg_write(conn, text.data(), text.size()) == static_cast<int>(text.size());
}

void serve_events(WebServer::State& s, mg_connection* conn) {
    if (s.streams.fetch_add(1) >= kMaxStreams) {
        s.streams.fetch_sub(1);
        send_error(conn, 503, "too many event streams");
        return;
    }
    auto queue = std::make_shared<StreamQueue>();
    {
        std::lock_guard lock(s.queues_mutex);
        if (!s.stopping) s.queues.insert(queue);
        else queue->closing = true;
    }
    // Subscribed before the snapshot is taken, so no change falls between.
    auto subscription = s.backend.subscribe([queue](const json& change) { queue->push(change.dump()); });
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
              "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
    bool open = write_all(conn, "event: snapshot\ndata: " + s.backend.snapshot().dump() + "\n\n");
    while (open) {
        std::deque<std::string> batch;
        bool resend = false;
        {
            std::unique_lock lock(queue->mutex);
            queue->wake.wait_for(lock, kKeepAlive, [&] {
                return queue->closing || queue->overflowed || !queue->events.empty();
            });
            if (queue->closing) break;
            batch.swap(queue->events);
            resend = std::exchange(queue->overflowed, false);
        }
        if (resend) {
            open = write_all(conn, "event: snapshot\ndata: " + s.backend.snapshot().dump() + "\n\n");
        } else if (batch.empty()) {
            open = write_all(conn, ": keep-alive\n\n");
        }
        std::string text;
        for (const std::string& event : batch) text += "event: change\ndata: " + event + "\n\n";
        if (open && !text.empty()) open = write_all(conn, text);
    }
    subscription.reset();
    {
        std::lock_guard lock(s.queues_mutex);
        s.queues.erase(queue);
    }
    s.streams.fetch_sub(1);
}

void serve_write(WebServer::State& s, mg_connection* conn, const Access& access,
                 const std::vector<std::string>& path) {
    // path: api units <unit> <kind> <ch>
    if (!access.write) return send_error(conn, 401, "writes need the token: log in");
    if (!same_origin(conn)) return send_error(conn, 403, "request from another site");
    if (!json_request(conn)) return send_error(conn, 415, "send application/json");
    const std::string& kind = path[3];
    const std::string& ch = path[4];
    if ((kind != "do" && kind != "ao") || ch.empty() || ch.size() > 3 ||
        ch.find_first_not_of("0123456789") != std::string::npos)
        return send_error(conn, 404, "no such output");
    const auto body = read_body(conn);
    if (!body || !body->is_object() || !body->contains("value"))
        return send_error(conn, 400, "expected {\"value\":…}");
    const mg_request_info* info = mg_get_request_info(conn);
    const std::string who = std::string("http:") + (info ? info->remote_addr : "?");
    const json result = s.backend.write(path[2], kind, std::stoi(ch), *body, who);
    send_json(conn, result.value("ok", false) ? 200 : 422, result);
}

void serve_login(WebServer::State& s, mg_connection* conn) {
    if (!same_origin(conn)) return send_error(conn, 403, "request from another site");
    if (!json_request(conn)) return send_error(conn, 415, "send application/json");
    const auto body = read_body(conn);
    if (!body || !body->is_object() || !(*body)["token"].is_string())
        return send_error(conn, 400, "expected {\"token\":…}");
    const std::string token = (*body)["token"].get<std::string>();
    const Access access = access_for(s.options, token);
    const bool known = (!s.options.token.empty() && access.write) ||
                       (!s.options.read_token.empty() && access.read);
    if (!known || token.empty() || token.find_first_of(";\r\n ") != std::string::npos)
        return send_error(conn, 401, "wrong token");
    send_json(conn, 200, json{{"read", access.read}, {"write", access.write}},
              "Set-Cookie: wexo_token=" + token + "; Path=/; HttpOnly; SameSite=Strict\r\n");
}

int handle_api(mg_connection* conn, void* data) {
    auto& s = *static_cast<WebServer::State*>(data);
    const mg_request_info* info = mg_get_request_info(conn);
    const std::string method = info->request_method ? info->request_method : "";
    const auto path = split_path(info->local_uri ? info->local_uri : "/");
    const Access access = access_for(s.options, presented_token(conn));
    try {
        if (path.size() == 2 && path[1] == "session" && method == "GET") {
            send_json(conn, 200, json{{"read", access.read}, {"write", access.write},
                                      {"login", !s.options.token.empty() || !s.options.read_token.empty()}});
        } else if (path.size() == 2 && path[1] == "login" && method == "POST") {
            serve_login(s, conn);
        } else if (path.size() == 2 && path[1] == "logout" && method == "POST") {
            send_json(conn, 200, json{{"ok", true}},
                      "Set-Cookie: wexo_token=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0\r\n");
        } else if (!access.read) {
            send_error(conn, 401, "reading needs the token: log in");
        } else if (path.size() == 2 && path[1] == "units" && method == "GET") {
            send_json(conn, 200, s.backend.snapshot());
        } else if (path.size() == 2 && path[1] == "events" && method == "GET") {
            serve_events(s, conn);
        } else if (path.size() == 5 && path[1] == "units") {
            if (method != "POST") send_error(conn, 405, "use POST");
            else serve_write(s, conn, access, path);
        } else {
            send_error(conn, 404, "no such resource");
        }
    } catch (const std::exception& e) {
        send_error(conn, 500, e.what());
    }
    return 1;
}

int log_nothing(const mg_connection*, const char*) { return 1; }

}  // namespace

WebServer::WebServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<WebServer> WebServer::start(WebBackend& backend, WebOptions options, std::string& error) {
    std::string host;
    int port = 0;
    if (!parse_listen(options.listen, host, port)) {
        error = "--http: expected ADDR:PORT, got \"" + options.listen + "\"";
        return nullptr;
    }
    auto state = std::make_unique<State>(backend, std::move(options));
    const std::string ports = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                              std::to_string(port);
    std::vector<const char*> config{
        "listening_ports", ports.c_str(),
        "num_threads", "48",
        "enable_directory_listing", "no",
        "enable_keep_alive", "yes",
        "additional_header",
        "X-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
        "Content-Security-Policy: default-src 'self'; img-src 'self' data:; frame-ancestors 'none'",
    };
    if (!state->options.document_root.empty()) {
        config.push_back("document_root");
        config.push_back(state->options.document_root.c_str());
    }
    config.push_back(nullptr);
    mg_callbacks callbacks{};
    callbacks.log_message = log_nothing;
    mg_init_library(0);
    state->context = mg_start(&callbacks, nullptr, config.data());
    if (!state->context) {
        error = "--http: cannot listen on " + state->options.listen;
        return nullptr;
    }
    mg_set_request_handler(state->context, "/api", handle_api, state.get());
    return std::unique_ptr<WebServer>(new WebServer(std::move(state)));
}

WebServer::~WebServer() {
    {
        std::lock_guard lock(state_->queues_mutex);
        state_->stopping = true;
        for (const auto& q : state_->queues) q->close();
    }
    mg_stop(state_->context);  // waits for every handler, the streams included
}

int WebServer::port() const {
    mg_server_port ports[4];
    const int n = mg_get_server_ports(state_->context, 4, ports);
    return n > 0 ? ports[0].port : -1;
}

}  // namespace wexo::gateway
