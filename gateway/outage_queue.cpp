#include "outage_queue.hpp"

#include <unistd.h>

#include <cstring>

#include "log.hpp"

namespace wexo::gateway {

// File layout: per entry, 8 bytes time (ms, little-endian), 4 bytes length,
// the record. A torn last entry (a crash while appending) is ignored on load.
// Removed entries stay in the file until it is rewritten: when the queue
// empties, or once as many were removed as remain.

namespace {

void put(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint64_t get(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

}  // namespace

OutageQueue::OutageQueue(std::string path, std::int64_t max_bytes, int max_age_s, bool drop_oldest)
    : path_(std::move(path)), max_bytes_(max_bytes), max_age_ms_(std::int64_t{max_age_s} * 1000), drop_oldest_(drop_oldest) {
    if (path_.empty()) return;
    load();
    rewrite();
}

OutageQueue::~OutageQueue() {
    if (file_ != nullptr) std::fclose(file_);
}

std::int64_t OutageQueue::now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void OutageQueue::load() {
    std::FILE* in = std::fopen(path_.c_str(), "rb");
    if (in == nullptr) return;
    unsigned char head[12];
    while (std::fread(head, 1, sizeof head, in) == sizeof head) {
        Entry e;
        e.enqueued_ms = static_cast<std::int64_t>(get(head, 8));
        const auto length = get(head + 8, 4);
        if (length > static_cast<std::uint64_t>(max_bytes_)) break;
        e.record.resize(length);
        if (length != 0 && std::fread(e.record.data(), 1, length, in) != length) break;
        bytes_ += size_of(e);
        entries_.push_back(std::move(e));
    }
    std::fclose(in);
    if (!entries_.empty()) log(Level::kNotice, "outage queue %s: %zu changes kept from before", path_.c_str(), entries_.size());
    expire(now_ms());
    while (bytes_ > max_bytes_) drop_front();
}

void OutageQueue::append(const Entry& e) {
    if (file_ == nullptr) return;
    std::string bytes;
    put(bytes, static_cast<std::uint64_t>(e.enqueued_ms), 8);
    put(bytes, e.record.size(), 4);
    bytes += e.record;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0)
        log(Level::kError, "outage queue %s: write failed: %s", path_.c_str(), std::strerror(errno));
}

void OutageQueue::rewrite() {
    if (path_.empty()) return;
    if (file_ != nullptr) std::fclose(file_);
    const std::string temp = path_ + ".new";
    file_ = std::fopen(temp.c_str(), "wb");
    if (file_ == nullptr) {
        log(Level::kError, "outage queue %s: cannot be written: %s", temp.c_str(), std::strerror(errno));
        return;
    }
    for (const Entry& e : entries_) append(e);
    if (std::rename(temp.c_str(), path_.c_str()) != 0)
        log(Level::kError, "outage queue %s: %s", path_.c_str(), std::strerror(errno));
    removed_since_rewrite_ = 0;
}

void OutageQueue::drop_front() {
    bytes_ -= size_of(entries_.front());
    entries_.pop_front();
    ++dropped_;
    ++removed_since_rewrite_;
}

void OutageQueue::expire(std::int64_t now) {
    while (!entries_.empty() && now - entries_.front().enqueued_ms > max_age_ms_) drop_front();
}

void OutageQueue::push(std::string record) {
    std::lock_guard lock(mutex_);
    Entry e{now_ms(), std::move(record)};
    expire(e.enqueued_ms);
    if (bytes_ + size_of(e) > max_bytes_) {
        if (!drop_oldest_) {
            ++dropped_;
            return;
        }
        while (!entries_.empty() && bytes_ + size_of(e) > max_bytes_) drop_front();
        if (removed_since_rewrite_ > 0) rewrite();
    }
    bytes_ += size_of(e);
    append(e);
    entries_.push_back(std::move(e));
}

std::optional<OutageQueue::Entry> OutageQueue::front() {
    std::lock_guard lock(mutex_);
    expire(now_ms());
    if (entries_.empty()) return std::nullopt;
    return entries_.front();
}

void OutageQueue::pop() {
    std::lock_guard lock(mutex_);
    if (entries_.empty()) return;
    bytes_ -= size_of(entries_.front());
    entries_.pop_front();
    ++removed_since_rewrite_;
    if (entries_.empty() || removed_since_rewrite_ >= entries_.size()) rewrite();
}

bool OutageQueue::empty() {
    std::lock_guard lock(mutex_);
    return entries_.empty();
}

OutageQueue::Stats OutageQueue::stats() {
    std::lock_guard lock(mutex_);
    Stats s;
    s.entries = entries_.size();
    s.bytes = bytes_;
    s.dropped = dropped_;
    if (!entries_.empty()) s.oldest_age_s = static_cast<double>(now_ms() - entries_.front().enqueued_ms) / 1000.0;
    return s;
}

}  // namespace wexo::gateway
