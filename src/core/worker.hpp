// Work the search hands to worker threads. A worker must not write the
// library's globals: what it would write (the last-error code, log lines, the
// record of its unit) goes to its Deferred instead, which each job is handed
// explicitly (its record copy, and a Sink for its codes and lines), and the
// caller's thread applies the Deferreds in the order the work would have run
// one unit after another.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "wexo_data.h"

namespace wexo {

struct Deferred {
    int index = -1;        // the record the worker stands in for
    wexo_device rec{};     // its copy of that record
    int result = 0;        // what the job returned
    bool error_set = false;
    uint32_t error = 0;    // the last code it stored, when error_set
    std::string log;       // its log lines, each with its newline
};

// Runs job once for every slot on at most max_workers threads and returns
// when all are done. Each run is given its slot, whose rec starts as a copy
// of record slot.index, and stores what it returns in slot.result. Slots whose
// records share one IPv4 address run one after another, in slot order, on one
// thread, as a module serves one connection at a time. Work that finds no
// thread runs on the calling thread, deferred all the same. The threads block
// every signal (the caller's mask is as it was on return) and are all joined
// before this returns.
using DeferredJob = std::function<int(Deferred& slot)>;
void run_deferred(std::vector<Deferred>& slots, const DeferredJob& job, int max_workers);

// Runs job for one slot on the calling thread, deferred like a worker's run.
void run_here(Deferred& slot, const DeferredJob& job);

// Prints a Deferred's log lines and stores its code if it set one.
void replay_deferred(const Deferred& done);

// Applies a Deferred on the caller's thread: writes its record back, prints
// its log lines and stores its code if it set one.
void apply_deferred(const Deferred& done);

}  // namespace wexo
