// Changes kept while the broker cannot be reached: in order, bounded by bytes
// and age, on disk so that they survive a restart of the gateway. Drop policy
// "oldest" makes room by dropping the oldest entries, "newest" refuses the new
// one; entries older than the age limit are dropped either way. Every drop is
// counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace wexo::gateway {

class OutageQueue {
public:
    struct Entry {
        std::int64_t enqueued_ms = 0;  // wall clock
        std::string record;
    };
    struct Stats {
        std::size_t entries = 0;
        std::int64_t bytes = 0;
        double oldest_age_s = 0;
        std::uint64_t dropped = 0;
    };

    // path empty: memory only. The file's entries from an earlier run are loaded.
    OutageQueue(std::string path, std::int64_t max_bytes, int max_age_s, bool drop_oldest);
    ~OutageQueue();
    OutageQueue(const OutageQueue&) = delete;
    OutageQueue& operator=(const OutageQueue&) = delete;

    void push(std::string record);
    // The oldest entry, left in place until pop().
    std::optional<Entry> front();
    void pop();
    bool empty();
    Stats stats();

private:
    static std::int64_t now_ms();
    static std::int64_t size_of(const Entry& e) { return static_cast<std::int64_t>(e.record.size()) + 12; }
    void expire(std::int64_t now);
    void drop_front();
    void append(const Entry& e);
    void rewrite();
    void load();

    std::mutex mutex_;
    std::string path_;
    std::int64_t max_bytes_;
    std::int64_t max_age_ms_;
    bool drop_oldest_;
    std::deque<Entry> entries_;
    std::int64_t bytes_ = 0;
    std::uint64_t dropped_ = 0;
    std::size_t removed_since_rewrite_ = 0;
    std::FILE* file_ = nullptr;
};

}  // namespace wexo::gateway
