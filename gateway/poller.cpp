#include "poller.hpp"

#include <algorithm>
#include <cctype>

#include "log.hpp"

namespace wexo::gateway {

// ------------------------------------------------------------------ TableGate

void TableGate::enter_shared() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return !writer_ && writers_waiting_ == 0; });
    ++readers_;
}

void TableGate::leave_shared() {
    std::lock_guard lock(mutex_);
    if (--readers_ == 0) cv_.notify_all();
}

void TableGate::enter_exclusive() {
    std::unique_lock lock(mutex_);
    ++writers_waiting_;
    cv_.wait(lock, [&] { return !writer_ && readers_ == 0; });
    --writers_waiting_;
    writer_ = true;
}

void TableGate::leave_exclusive() {
    std::lock_guard lock(mutex_);
    writer_ = false;
    ++generation_;
    cv_.notify_all();
}

// ------------------------------------------------------------------ UnitPoller

namespace {

const char* range_unit(int range) {
    if (range == 4 || range == 5) return "mA";
    if (range == 6) return "degC";
    return "V";
}

bool not_possible(const std::error_code& code) { return code == errc::not_possible; }

}  // namespace

UnitPoller::UnitPoller(UnitPlan plan, Schedule schedule, Library& library, TableGate& gate, UnitStore& store,
                       Metrics& metrics)
    : plan_(std::move(plan)),
      schedule_(schedule),
      library_(library),
      gate_(gate),
      store_(store),
      metrics_(metrics),
      backoff_(schedule.retry_min_ms) {}

UnitPoller::~UnitPoller() { stop(); }

void UnitPoller::start() { thread_ = std::thread([this] { run(); }); }

void UnitPoller::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool UnitPoller::execute(const WriteRequest& request, WriteDone done) {
    if (!online_) return false;
    {
        std::lock_guard lock(mutex_);
        if (stop_) return false;
        jobs_.push_back({request, std::move(done)});
    }
    cv_.notify_all();
    return true;
}

void UnitPoller::wait_until(SteadyClock::time_point when) {
    std::unique_lock lock(mutex_);
    cv_.wait_until(lock, when, [&] { return stop_ || (!jobs_.empty() && online_); });
}

void UnitPoller::fail_jobs(const std::string& why) {
    std::deque<Job> jobs;
    {
        std::lock_guard lock(mutex_);
        jobs.swap(jobs_);
    }
    for (Job& job : jobs) job.done({false, WEXO_ERR_NOT_CONNECTED, why, std::nullopt});
}

void UnitPoller::run() {
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) break;
        }
        if (!unit_ || generation_ != gate_.generation()) {
            bool ok;
            {
                SharedPass pass(gate_);
                ok = connect();
            }
            if (!ok) {
                fail_jobs(plan_.name + " is offline");
                wait_until(SteadyClock::now() + backoff_);
                backoff_ = std::min(backoff_ * 2, std::chrono::milliseconds(schedule_.retry_max_ms));
                continue;
            }
            backoff_ = std::chrono::milliseconds(schedule_.retry_min_ms);
        }
        std::deque<Job> jobs;
        {
            std::lock_guard lock(mutex_);
            jobs.swap(jobs_);
        }
        const auto started = SteadyClock::now();
        bool ok = true;
        {
            SharedPass pass(gate_);
            // A search since the last round closed the channel: connect first.
            if (generation_ != gate_.generation()) {
                std::lock_guard lock(mutex_);
                for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) jobs_.push_front(std::move(*it));
                continue;
            }
            for (Job& job : jobs) run_job(job);
            ok = poll_due(started);
        }
        if (!ok) {
            if (++failures_ >= schedule_.fail_after) drop("it stopped answering");
            continue;
        }
        failures_ = 0;
        wait_until(std::min({next_digital_, next_analog_, next_counter_}));
    }
    if (unit_) {
        SharedPass pass(gate_);
        unit_.reset();
    }
    online_ = false;
    fail_jobs(plan_.name + " is shutting down");
}

bool UnitPoller::connect() {
    const bool renewal = unit_.has_value();  // a search closed the channel; the unit was fine
    unit_.reset();
    generation_ = gate_.generation();
    // A configured model spares the board's identification; a data port of
    // its own means no module to ask, and a direct connect.
    OpenOptions options;
    options.timeout = std::chrono::milliseconds(schedule_.timeout_ms);
    result<Unit> unit = library_.open(plan_.address, options);
    if (!unit) {
        metrics_.library_failure(unit.error().value());
        if (renewal) store_.set_offline(plan_.name), online_ = false;
        log(Level::kDebug, "%s: no connection: %s", plan_.name.c_str(), unit.error().message().c_str());
        return false;
    }
    const auto caps = unit->capabilities();
    const int model = unit->model().value_or(-1);
    if (!caps || (plan_.model >= 0 && model != plan_.model)) {
        log(Level::kError, "%s: the unit is model %d, not the configured %d; not used", plan_.name.c_str(), model,
            plan_.model);
        store_.set_offline(plan_.name);
        online_ = false;
        return false;
    }
    (void)unit->set_timeout(std::chrono::milliseconds(schedule_.timeout_ms));
    caps_ = *caps;
    UnitInfo info;
    info.name = plan_.name;
    info.model = model;
    info.id = unit->id().value_or(-1);
    if (info.id > 15) info.id = -1;  // 255: the board was not asked
    info.ip = unit->ip().value_or("");
    // A direct connect on a given data port learns no module data.
    if (info.ip.empty()) info.ip = plan_.address.host;
    if (const auto mac = unit->mac(); mac && *mac != Mac{}) info.mac = mac_text(*mac);
    // Two letters; a direct connect without module data has none.
    if (const auto firm = unit->firmware_type();
        firm && std::all_of(firm->begin(), firm->end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
        info.firm_type = *firm;
    info.caps = caps_;
    unit_.emplace(std::move(*unit));
    analog_ok_ = counters_ok_ = true;
    failures_ = 0;
    next_digital_ = next_analog_ = next_counter_ = SteadyClock::now();
    online_ = true;
    if (!renewal) log(Level::kNotice, "%s: online (model %d, %s)", plan_.name.c_str(), model, info.ip.c_str());
    store_.set_online(plan_.name, info);
    metrics_.unit_online(plan_.name, true);
    return true;
}

void UnitPoller::drop(const char* why) {
    log(Level::kWarning, "%s: offline: %s; connecting again with back-off", plan_.name.c_str(), why);
    {
        SharedPass pass(gate_);
        unit_.reset();
    }
    online_ = false;
    failures_ = 0;
    store_.set_offline(plan_.name);
    metrics_.unit_online(plan_.name, false);
    fail_jobs(plan_.name + " is offline");
}

bool UnitPoller::failed(const std::error_code& code, const char* what) {
    metrics_.library_failure(code.value());
    log(Level::kDebug, "%s: %s failed: %s", plan_.name.c_str(), what, code.message().c_str());
    return false;
}

bool UnitPoller::poll_due(SteadyClock::time_point now) {
    auto next = [&](SteadyClock::time_point& due, int period_ms) {
        // On schedule, or a period from now when the round ran late.
        due = std::max(due + std::chrono::milliseconds(period_ms), now);
    };
    bool ok = true;
    if (now >= next_digital_) {
        ok = poll_digital();
        next(next_digital_, schedule_.poll_ms);
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - now).count();
        metrics_.poll_seconds(seconds);
        if (ok) store_.set_poll_latency(plan_.name, seconds * 1000.0);
    }
    if (ok && now >= next_analog_) {
        ok = poll_analog();
        next(next_analog_, schedule_.analog_poll_ms);
    }
    if (ok && now >= next_counter_) {
        ok = poll_counters();
        next(next_counter_, schedule_.counter_poll_ms);
    }
    return ok;
}

bool UnitPoller::poll_digital() {
    const auto ts = Clock::now();
    if (caps_.digital_inputs > 0) {
        const auto bits = unit_->inputs();
        if (!bits) return failed(bits.error(), "reading the inputs");
        for (int ch = 0; ch < caps_.digital_inputs; ++ch)
            store_.update(plan_.name, {Kind::kDI, ch}, {static_cast<double>((*bits >> ch) & 1u), std::nullopt, "", ts});
    }
    if (caps_.digital_outputs > 0) {
        const auto bits = unit_->outputs();
        if (!bits) return failed(bits.error(), "reading the outputs");
        for (int ch = 0; ch < caps_.digital_outputs; ++ch)
            store_.update(plan_.name, {Kind::kDO, ch}, {static_cast<double>((*bits >> ch) & 1u), std::nullopt, "", ts});
    }
    return true;
}

bool UnitPoller::poll_analog() {
    if (!analog_ok_) return true;
    if (caps_.analog_inputs > 0) {
        const auto counts = unit_->analog_inputs();
        if (!counts) return not_possible(counts.error()) ? (analog_ok_ = false, true) : failed(counts.error(), "reading the analog inputs");
        for (int ch = 0; ch < caps_.analog_inputs && ch < static_cast<int>(counts->size()); ++ch) {
            const auto v = unit_->analog_input_value(ch);
            if (!v) return failed(v.error(), "reading an analog input");
            store_.update(plan_.name, {Kind::kAI, ch},
                          {v->value, (*counts)[static_cast<std::size_t>(ch)], range_unit(v->range), Clock::now()});
        }
    }
    for (int ch = 0; ch < caps_.analog_outputs; ++ch) {
        const auto s = read_output({Kind::kAO, ch});
        if (!s) return false;
    }
    return true;
}

std::optional<Sample> UnitPoller::read_output(const OutputRef& ref) {
    Sample s;
    if (ref.kind == Kind::kDO) {
        const auto v = unit_->output(ref.channel);
        if (!v) return failed(v.error(), "reading an output"), std::nullopt;
        s = {*v ? 1.0 : 0.0, std::nullopt, "", Clock::now()};
    } else {
        const auto raw = unit_->analog_output(ref.channel);
        if (!raw) return failed(raw.error(), "reading an analog output"), std::nullopt;
        const auto v = unit_->analog_output_value(ref.channel);
        if (!v) return failed(v.error(), "reading an analog output"), std::nullopt;
        s = {v->value, raw->raw, v->mode == AnalogMode::current ? "mA" : "V", Clock::now()};
    }
    store_.update(plan_.name, {ref.kind, ref.channel}, s);
    return s;
}

bool UnitPoller::poll_counters() {
    if (!counters_ok_ || caps_.counters == 0) return true;
    const auto ts = Clock::now();
    if (caps_.counters == 1) {
        const auto n = unit_->pulse_count();
        if (!n) return not_possible(n.error()) ? (counters_ok_ = false, true) : failed(n.error(), "reading the counter");
        store_.update(plan_.name, {Kind::kCounter, 0}, {static_cast<double>(*n), std::nullopt, "", ts});
        return true;
    }
    for (int ch = 0; ch < caps_.counters; ++ch) {
        const auto n = unit_->pulse_count(ch);
        if (!n) return not_possible(n.error()) ? (counters_ok_ = false, true) : failed(n.error(), "reading a counter");
        store_.update(plan_.name, {Kind::kCounter, ch}, {static_cast<double>(*n), std::nullopt, "", ts});
    }
    return true;
}

void UnitPoller::run_job(Job& job) {
    const WriteRequest& r = job.request;
    result<void> written;
    if (r.output.kind == Kind::kDO) {
        written = unit_->set_output(r.output.channel, r.value != 0);
    } else if (r.scale == WriteRequest::Scale::kCounts) {
        // Counts keep the output's present mode.
        const auto present = unit_->analog_output(r.output.channel);
        written = present ? unit_->set_analog_output(r.output.channel, {present->mode, static_cast<int>(r.value)})
                          : result<void>(present.error());
    } else {
        written = unit_->set_analog_output_value(
            r.output.channel, r.scale == WriteRequest::Scale::kMilliamps ? AnalogMode::current : AnalogMode::voltage, r.value);
    }
    WriteResult result;
    if (!written) {
        failed(written.error(), "a write");
        result = {false, written.error().value(), written.error().message(), std::nullopt};
    } else {
        result.now = read_output(r.output);
        result.ok = result.now.has_value();
        if (!result.ok) {
            result.code = WEXO_ERR_BAD_REPLY;
            result.message = "written, but the read-back failed";
        }
    }
    metrics_.command(result.ok ? "ok" : "failed");
    job.done(result);
}

}  // namespace wexo::gateway
