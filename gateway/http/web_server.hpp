// The plant view's HTTP side: the page's static files, a JSON API over the
// gateway's unit state, a server-sent event stream of its changes, and
// writes through the same checks as writes from MQTT.
//
//   GET  /api/session                 what this client may do
//   POST /api/login   {"token":"…"}    sets the session cookie
//   GET  /api/units                    the whole state (WebBackend::snapshot)
//   GET  /api/events                   text/event-stream: "snapshot" once, then "change"
//   POST /api/units/<unit>/<do|ao>/<ch>  {"value":…} → the write's result
//   GET  /…                            files under the document root
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace wexo::gateway {

// What the page needs from the gateway. Called from the server's threads.
class WebBackend {
public:
    virtual ~WebBackend() = default;
    // {"gateway":{"site":…,"name":…},"units":[{"name":…,"online":…,…}]}
    virtual nlohmann::json snapshot() = 0;
    // on_change runs for every change (a value, or a unit's status) until
    // the returned handle is released; it must not block.
    virtual std::shared_ptr<void> subscribe(std::function<void(const nlohmann::json&)> on_change) = 0;
    // {"ok":true,…} or {"ok":false,"code":…,"message":…}; who names the client.
    virtual nlohmann::json write(const std::string& unit, const std::string& kind, int channel,
                                 const nlohmann::json& request, const std::string& who) = 0;
};

struct WebOptions {
    std::string listen;       // "ADDR:PORT"; port 0 picks a free one
    std::string document_root;
    std::string token;        // writes need it when set
    std::string read_token;   // reads need it (or token) when set
};

// Access a request has, from its token (bearer header or session cookie).
struct Access {
    bool read = false;
    bool write = false;
};
Access access_for(const WebOptions& options, const std::string& presented);

// "ADDR:PORT" for the server's listening option; false when malformed.
bool parse_listen(const std::string& text, std::string& host, int& port);

class WebServer {
public:
    // nullptr with error set when the address cannot be bound.
    static std::unique_ptr<WebServer> start(WebBackend& backend, WebOptions options,
                                            std::string& error);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    int port() const;

    struct State;

private:
    explicit WebServer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace wexo::gateway
