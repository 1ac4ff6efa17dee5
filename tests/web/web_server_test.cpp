// The plant view's API without a browser: access rules, writes, the event
// stream and the page's files, over real HTTP on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "web_server.hpp"

using nlohmann::json;
using wexo::gateway::WebBackend;
using wexo::gateway::WebOptions;
using wexo::gateway::WebServer;

namespace {

class FakeBackend : public WebBackend {
public:
    json snapshot() override {
        return {{"gateway", {{"site", "plant"}, {"name", "gw1"}}},
                {"units", json::array({{{"name", "press"}, {"online", true}}})}};
    }
    std::shared_ptr<void> subscribe(std::function<void(const json&)> on_change) override {
        std::lock_guard lock(mutex);
        listener = std::move(on_change);
        return std::shared_ptr<void>(nullptr, [this](void*) {
            std::lock_guard l(mutex);
            listener = nullptr;
        });
    }
    json write(const std::string& unit, const std::string& kind, int channel, const json& request,
               const std::string& who) override {
        std::lock_guard lock(mutex);
        writes.push_back(unit + "/" + kind + "/" + std::to_string(channel) + "=" + request["value"].dump());
        last_who = who;
        if (unit != "press") return {{"ok", false}, {"code", 6}, {"message", "not writable"}};
        return {{"ok", true}, {"value", request["value"]}};
    }
    void emit(const json& change) {
        std::lock_guard lock(mutex);
        if (listener) listener(change);
    }
    bool subscribed() {
        std::lock_guard lock(mutex);
        return static_cast<bool>(listener);
    }

    std::mutex mutex;
    std::function<void(const json&)> listener;
    std::vector<std::string> writes;
    std::string last_who;
};

struct Reply {
    int status = 0;
    std::string head, body;
};

int connect_to(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

// Reads until the peer closes, or until `until` appears, or 3 s pass.
std::string read_some(int fd, const std::string& until = {}) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (!until.empty() && text.find(until) != std::string::npos) break;
    }
    return text;
}

Reply request(int port, const std::string& method, const std::string& path, const std::string& headers = {},
              const std::string& body = {}) {
    const int fd = connect_to(port);
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                       "\r\nConnection: close\r\n" + headers;
    if (!body.empty() || method == "POST") text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    text += "\r\n" + body;
    send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    const std::string raw = read_some(fd);
    close(fd);
    Reply r;
    const auto split = raw.find("\r\n\r\n");
    r.head = raw.substr(0, split);
    r.body = split == std::string::npos ? "" : raw.substr(split + 4);
    if (raw.size() > 12) r.status = std::stoi(raw.substr(9, 3));
    return r;
}

const std::string kJson = "Content-Type: application/json\r\n";

class WebServerTest : public ::testing::Test {
protected:
    void start(WebOptions options) {
        options.listen = "127.0.0.1:0";
        options.document_root = WEXO_WEB_ROOT;
        std::string error;
        server = WebServer::start(backend, options, error);
        ASSERT_TRUE(server) << error;
        port = server->port();
    }
    FakeBackend backend;
    std::unique_ptr<WebServer> server;
    int port = 0;
};

}  // namespace

TEST_F(WebServerTest, AccessRulesWithTokens) {
    WebOptions options;
    options.token = "w-secret";
    options.read_token = "r-secret";
    start(options);
    const std::string reader = "Authorization: Bearer r-secret\r\n";
    const std::string writer = "Authorization: Bearer w-secret\r\n";
    const std::string body = R"({"value":1})";
    struct Case {
        std::string method, path, headers, body;
        int status;
    };
    const std::vector<Case> cases{
        {"GET", "/api/units", "", "", 401},
        {"GET", "/api/units", "Authorization: Bearer wrong\r\n", "", 401},
        {"GET", "/api/units", reader, "", 200},
        {"GET", "/api/units", writer, "", 200},
        {"POST", "/api/units/press/do/0", reader + kJson, body, 401},
        {"POST", "/api/units/press/do/0", writer + kJson + "Origin: http://evil.example\r\n", body, 403},
        {"POST", "/api/units/press/do/0", writer + "Content-Type: text/plain\r\n", body, 415},
        {"POST", "/api/units/press/di/0", writer + kJson, body, 404},
        {"POST", "/api/units/press/do/x", writer + kJson, body, 404},
        {"POST", "/api/units/press/do/0", writer + kJson, "not json", 400},
        {"GET", "/api/units/press/do/0", writer, "", 405},
        {"POST", "/api/login", kJson, R"({"token":"nope"})", 401},
    };
    for (const Case& c : cases)
        EXPECT_EQ(request(port, c.method, c.path, c.headers, c.body).status, c.status) << c.method << " " << c.path;
    EXPECT_TRUE(backend.writes.empty()) << "no refused request reaches the gateway";

    const Reply login = request(port, "POST", "/api/login", kJson, R"({"token":"w-secret"})");
    EXPECT_EQ(login.status, 200);
    EXPECT_NE(login.head.find("Set-Cookie: wexo_token=w-secret; Path=/; HttpOnly; SameSite=Strict"), std::string::npos);
    const Reply write = request(port, "POST", "/api/units/press/do/0",
                                "Cookie: wexo_token=w-secret\r\nOrigin: http://127.0.0.1:" + std::to_string(port) +
                                    "\r\n" + kJson,
                                body);
    EXPECT_EQ(write.status, 200);
    EXPECT_EQ(backend.writes, std::vector<std::string>{"press/do/0=1"});
    EXPECT_EQ(backend.last_who.rfind("http:127.0.0.1", 0), 0u);
}

TEST_F(WebServerTest, WritesWithoutTokensAndRefusalsCarryTheGatewaysAnswer) {
    start({});
    EXPECT_EQ(json::parse(request(port, "GET", "/api/session").body),
              (json{{"read", true}, {"write", true}, {"login", false}}));
    const Reply refused = request(port, "POST", "/api/units/oven/ao/1", kJson, R"({"value":2.5,"unit":"V"})");
    EXPECT_EQ(refused.status, 422);
    EXPECT_EQ(json::parse(refused.body)["code"], 6);
    EXPECT_EQ(backend.writes, std::vector<std::string>{"oven/ao/1=2.5"});
}

TEST_F(WebServerTest, EventStreamSendsSnapshotThenChanges) {
    start({});
    const int fd = connect_to(port);
    const std::string get = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
    send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    const std::string first = read_some(fd, "\n\n");
    EXPECT_NE(first.find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_NE(first.find("event: snapshot\ndata: {\"gateway\""), std::string::npos);
    for (int i = 0; i < 50 && !backend.subscribed(); ++i) usleep(10000);
    backend.emit({{"type", "value"}, {"unit", "press"}, {"kind", "di"}, {"ch", 0}, {"value", 1}});
    const std::string change = read_some(fd, "\n\n");
    EXPECT_NE(change.find("event: change\ndata: {\"ch\":0,\"kind\":\"di\""), std::string::npos) << change;
    close(fd);
    server.reset();  // returns although a stream was open
}

TEST_F(WebServerTest, ServesThePageWithSafeHeaders) {
    start({});
    const Reply page = request(port, "GET", "/index.html");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("X-Content-Type-Options: nosniff"), std::string::npos);
    EXPECT_NE(page.body.find("<title>"), std::string::npos);
    EXPECT_EQ(request(port, "GET", "/../CMakeLists.txt").status / 100, 4);
}

TEST(WebListen, ParsesAddressAndPort) {
    std::string host;
    int port = 0;
    EXPECT_TRUE(wexo::gateway::parse_listen("127.0.0.1:8080", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8080);
    EXPECT_TRUE(wexo::gateway::parse_listen("[::1]:80", host, port));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"8080", ":80", "host:", "host:99999", "host:8o"})
        EXPECT_FALSE(wexo::gateway::parse_listen(bad, host, port)) << bad;
}
