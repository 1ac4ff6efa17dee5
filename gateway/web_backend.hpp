// The plant view's window on the gateway: the unit store's state as the
// page's JSON, its changes as events, and the page's writes through the
// store's checks (allow-list, range, rate limit) like any MQTT write.
#pragma once

#include "unit_state.hpp"
#include "web_server.hpp"

namespace wexo::gateway {

class StoreWebBackend : public WebBackend {
public:
    StoreWebBackend(const Config& config, UnitStore& store) : config_(config), store_(store) {}

    nlohmann::json snapshot() override;
    std::shared_ptr<void> subscribe(std::function<void(const nlohmann::json&)> on_change) override;
    nlohmann::json write(const std::string& unit, const std::string& kind, int channel,
                         const nlohmann::json& request, const std::string& who) override;

private:
    const Config& config_;
    UnitStore& store_;
};

// One unit as the page shows it; also sent whole when its status changes.
nlohmann::json unit_json(const UnitSnapshot& unit, const std::vector<OutputRef>& writable, double deadband);

}  // namespace wexo::gateway
