// Worker threads of the search.
#include "core/worker.hpp"

#include <pthread.h>
#include <signal.h>

#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "core/state.hpp"

namespace wexo {

namespace {

// The workers run short exchanges; a small stack keeps 256 of them cheap.
constexpr std::size_t kWorkerStack = std::size_t{1} << 20;

struct Pool {
    std::vector<Deferred>& slots;
    const DeferredJob& job;
    std::vector<std::vector<std::size_t>> groups;  // slot numbers per unit address
    std::atomic<std::size_t> next{0};

    void run(Deferred& slot) { run_here(slot, job); }

    // Takes groups until none is left.
    void drain() {
        for (std::size_t g; (g = next.fetch_add(1)) < groups.size();) {
            for (std::size_t i : groups[g]) run(slots[i]);
        }
    }
};

void* worker_main(void* pool) {
    static_cast<Pool*>(pool)->drain();
    return nullptr;
}

// The workers are the library's own business: no signal of the caller's may
// be delivered to them. A thread starts with its creator's mask, so every
// signal is blocked while they are started and the caller's mask is put back
// after.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

std::vector<std::vector<std::size_t>> group_by_address(const std::vector<Deferred>& slots) {
    std::vector<std::vector<std::size_t>> groups;
    std::vector<in_addr_t> addresses;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const in_addr_t address = slots[i].rec.unit_addr.sin_addr.s_addr;
        const auto known = std::find(addresses.begin(), addresses.end(), address);
        if (known == addresses.end()) {
            addresses.push_back(address);
            groups.push_back({i});
        } else {
            groups[static_cast<std::size_t>(known - addresses.begin())].push_back(i);
        }
    }
    return groups;
}

}  // namespace

void run_deferred(std::vector<Deferred>& slots, const DeferredJob& job, int max_workers) {
    if (slots.empty()) return;
    for (Deferred& slot : slots) slot.rec = xportset[slot.index];
    Pool pool{slots, job, group_by_address(slots)};

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kWorkerStack);
    std::vector<pthread_t> threads;
    // The calling thread works too, so one thread fewer is started.
    const std::size_t wanted =
        std::min(pool.groups.size(), static_cast<std::size_t>(std::max(max_workers, 1))) - 1;
    threads.reserve(wanted);
    {
        const SignalsBlocked blocked;
        for (std::size_t i = 0; i < wanted; ++i) {
            pthread_t thread;
            // Out of threads: the ones running, and this thread, share the rest.
            if (pthread_create(&thread, &attr, worker_main, &pool) != 0) break;
            threads.push_back(thread);
        }
    }
    pthread_attr_destroy(&attr);
    pool.drain();
    for (pthread_t thread : threads) pthread_join(thread, nullptr);
}

void run_here(Deferred& slot, const DeferredJob& job) {
    try {
        slot.result = job(slot);
    } catch (...) {
        // Only allocation can throw here (log lines).
        slot.result = 0;
        Sink(slot).set_system_error(ENOMEM);
    }
}

void replay_deferred(const Deferred& done) {
    if (!done.log.empty()) std::fwrite(done.log.data(), 1, done.log.size(), stdout);
    if (done.error_set) set_error(done.error);
}

void apply_deferred(const Deferred& done) {
    xportset[done.index] = done.rec;
    replay_deferred(done);
}

}  // namespace wexo
