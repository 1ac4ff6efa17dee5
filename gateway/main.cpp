// wexo-gateway: every unit of a plant on MQTT.
#include <signal.h>
#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "config.hpp"
#include "gateway.hpp"
#include "log.hpp"
#include "metrics.hpp"
#include "mqtt_client.hpp"
#include "web_backend.hpp"
#include "web_server.hpp"
#include "wexo.hpp"

namespace {

using namespace wexo::gateway;

constexpr const char* kDefaultConfig = "/etc/wexo-gateway/gateway.toml";

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: wexo-gateway [--config FILE] [--check] [--metrics ADDR:PORT] [--http ADDR:PORT] [--log-level LEVEL]\n"
                 "  --config FILE        configuration (default %s)\n"
                 "  --check              print the resolved plan (units, channels, topics, writes) and exit\n"
                 "  --metrics ADDR:PORT  serve Prometheus metrics on http://ADDR:PORT/metrics\n"
                 "  --http ADDR:PORT     serve the plant view on http://ADDR:PORT/ (off by default)\n"
                 "  --http-root DIR      the plant view's files (default %s)\n"
                 "  --log-level LEVEL    error, warning, notice, info (default) or debug\n"
                 "  --version, --help\n"
                 "Signals: SIGTERM/SIGINT end cleanly, SIGHUP reloads the configuration.\n",
                 kDefaultConfig, WEXO_WEB_ROOT_DEFAULT);
}

struct Options {
    std::string config = kDefaultConfig;
    bool check = false;
    std::string metrics;
    std::string http;
    std::string http_root = WEXO_WEB_ROOT_DEFAULT;
};

// 0 to run, else the exit status.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "wexo-gateway: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return -1;
        } else if (a == "--version") {
            std::printf("wexo-gateway %s (library %s)\n", WEXO_GATEWAY_VERSION, wexo::version());
            return -1;
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "--config" || a == "--metrics" || a == "--log-level" || a == "--http" ||
                   a == "--http-root") {
            const char* v = value(a.c_str());
            if (v == nullptr) return 2;
            if (a == "--config") o.config = v;
            else if (a == "--metrics") o.metrics = v;
            else if (a == "--http") o.http = v;
            else if (a == "--http-root") o.http_root = v;
            else {
                Level level;
                if (!log_level_from_name(v, level)) {
                    std::fprintf(stderr, "wexo-gateway: unknown log level %s\n", v);
                    return 2;
                }
                set_log_level(level);
            }
        } else {
            std::fprintf(stderr, "wexo-gateway: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int rc = parse(argc, argv, options); rc != 0) return rc < 0 ? 0 : rc;

    std::unique_ptr<Config> config;
    try {
        config = std::make_unique<Config>(load_config(options.config));
    } catch (const ConfigError& e) {
        std::fprintf(stderr, "wexo-gateway: %s\n", e.what());
        return 1;
    }
    if (options.check) {
        std::fputs(describe_plan(*config).c_str(), stdout);
        return 0;
    }

    // Signals are taken by the main thread only: block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    mqtt_library_init();
    Metrics metrics;
    if (!options.metrics.empty()) {
        try {
            metrics.serve(options.metrics);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wexo-gateway: %s\n", e.what());
            return 1;
        }
    }

    std::uint64_t watchdog_usec = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdog_usec) > 0;
    while (true) {
        std::unique_ptr<Gateway> gateway;
        std::unique_ptr<StoreWebBackend> web_backend;
        std::unique_ptr<WebServer> web;
        try {
            gateway = std::make_unique<Gateway>(*config, metrics);
            gateway->start();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wexo-gateway: %s\n", e.what());
            return 1;
        }
        if (!options.http.empty()) {
            web_backend = std::make_unique<StoreWebBackend>(*config, gateway->store());
            std::string error;
            web = WebServer::start(*web_backend, {options.http, options.http_root, config->http_token,
                                                  config->http_read_token},
                                   error);
            if (!web) {
                std::fprintf(stderr, "wexo-gateway: %s\n", error.c_str());
                gateway->stop();
                return 1;
            }
            log(Level::kNotice, "plant view on http://%s/", options.http.c_str());
        }
        sd_notify(0, "READY=1\nSTATUS=running");
        log(Level::kNotice, "running: %s/%s, %zu configured units", config->site.c_str(), config->name.c_str(),
            config->units.size());
        int sig = 0;
        std::unique_ptr<Config> next;
        while (sig == 0) {
            // Wake often enough for the watchdog and the periodic work.
            const long wait_ms = watchdog ? std::min<long>(1000, static_cast<long>(watchdog_usec / 2000)) : 1000;
            timespec timeout{wait_ms / 1000, (wait_ms % 1000) * 1000000};
            siginfo_t info;
            const int got = sigtimedwait(&signals, &info, &timeout);
            if (watchdog) sd_notify(0, "WATCHDOG=1");
            gateway->tick();
            if (got != SIGHUP) {
                if (got > 0) sig = got;
                continue;
            }
            try {
                next = std::make_unique<Config>(load_config(options.config));
                sig = got;
            } catch (const ConfigError& e) {
                log(Level::kError, "reload refused, the running configuration stays: %s", e.what());
            }
        }
        if (sig == SIGHUP) {
            sd_notify(0, "RELOADING=1");
            log(Level::kNotice, "reloading %s", options.config.c_str());
            web.reset();
            gateway->stop();
            gateway.reset();
            config = std::move(next);
            continue;
        }
        sd_notify(0, "STOPPING=1");
        log(Level::kNotice, "ending (%s)", strsignal(sig));
        web.reset();
        gateway->stop();
        return 0;
    }
}
