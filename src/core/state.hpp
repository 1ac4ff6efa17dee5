// Library-wide state, error reporting, logging and the validation that opens
// every per-unit call.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cerrno>
#include <cstdint>
#include <new>

#include "wexo.h"
#include "wexo_data.h"
#include "core/worker.hpp"

namespace wexo {

enum LogLevel : unsigned {
    kLogEntry = WEXO_LOG_ENTRY,
    kLogResult = WEXO_LOG_RESULT,
    kLogTrace = WEXO_LOG_TRACE,
    kLogError = WEXO_LOG_ERROR,
};

enum ErrorCode : uint32_t {
    kOk = WEXO_OK,
    kNotInitialized = WEXO_ERR_NOT_INITIALIZED,
    kNotFound = WEXO_ERR_NOT_FOUND,
    kIndexRange = WEXO_ERR_INDEX_RANGE,
    kNoMatch = WEXO_ERR_NO_MATCH,
    kNotConnected = WEXO_ERR_NOT_CONNECTED,
    kNotPossible = WEXO_ERR_NOT_POSSIBLE,
    kAlready = WEXO_ERR_ALREADY,
    kTableFull = WEXO_ERR_TABLE_FULL,
    kBadReply = WEXO_ERR_BAD_REPLY,
    kConnectTimeout = WEXO_ERR_CONNECT_TIMEOUT,
};

// The caller's last-error code.
inline void set_error(uint32_t code) { wexo_last_error = code; }
// The code as the caller's calls so far have left it.
inline uint32_t last_error() { return wexo_last_error; }
// Stores an operating-system error number the way every socket failure is reported.
inline void set_system_error(int err) { set_error(static_cast<uint32_t>(err) + WEXO_ERR_SYSTEM_BASE); }

// Where the codes and log lines of one piece of work go: by default the
// caller's (the last-error code and standard output); for a search worker,
// its Deferred, which the caller's thread replays in the sequential order.
class Sink {
public:
    Sink() = default;
    explicit Sink(Deferred& deferred) : deferred_(&deferred) {}

    void set_error(uint32_t code) const {
        if (deferred_ == nullptr) {
            wexo::set_error(code);
            return;
        }
        deferred_->error = code;
        deferred_->error_set = true;
    }
    void set_system_error(int err) const {
        set_error(static_cast<uint32_t>(err) + WEXO_ERR_SYSTEM_BASE);
    }
    uint32_t last_error() const {
        if (deferred_ != nullptr && deferred_->error_set) return deferred_->error;
        return wexo::last_error();
    }
    // A log line, as output_log writes it. Always returns 1.
    int log(unsigned level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

private:
    Deferred* deferred_ = nullptr;
};

// Writes one log line to standard output when level is enabled in the mask.
// Always returns 1.
int output_log(unsigned level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The entry line every exported call writes first.
inline void entry_line(const char* function) { output_log(kLogEntry, "%s", function); }

// The first checks of every per-unit call: clears the code, then 1 when the
// library is initialised and index is at most 255, else 0 with code 1 or 6.
int check_initialized_index(int index, Sink sink = {});

// Common validation: 1 when the call may go on, else 0 with the code set.
// need_connected = 0: the index must name a record of the table;
// otherwise the unit must be connected with a known model code.
int check_common(int index, int need_connected, Sink sink = {});

enum ModelColumn : int {
    kColOutputs = 0,
    kColInputs = 1,
    kColAutoSwitch = 2,
    kColPulse = 3,
    kColDisconnectTime = 4,
    kColNoticeTime = 5,
    kColResendWait = 6,
    kColDetectTime = 7,
    kColMailLogic = 8,
    kColAnalogOutputs = 9,
    kColAnalogInputs = 10,
};

// Record index of the table.
inline wexo_device& record(int index) { return xportset[index]; }

// The record count as a record call on one thread reads it while a direct
// connect call on another thread adds a record (under the table lock): both
// sides go through an atomic view of the exported plain integer.
inline int32_t record_count() {
    return std::atomic_ref<int32_t>(xportcount).load(std::memory_order_acquire);
}
inline void add_records(int32_t n) {
    std::atomic_ref<int32_t>(xportcount).fetch_add(n, std::memory_order_release);
}

// Admission of the calls that take the library mutex (search, connect,
// close): true while the library is initialised and ZuWexoEnd has not begun,
// and the call then counts as running until leave_table_call(). ZuWexoEnd
// waits for the running ones before it closes and clears the table.
bool enter_table_call();
void leave_table_call();

// The body of ZuWexoEnd: waits for the running table calls, closes every
// connected record through close_connected (the session's close, which the
// core does not know), clears the table and writes the result line.
int end_library(void (*close_connected)(int index));

// Serial rate in bit/s of a module baud code; 0 for codes without an entry.
int baud_rate_of(uint8_t baud_code);

// Suspends the caller for ms milliseconds (one nanosleep, not resumed).
void Sleep(int ms);
// Closes a descriptor; returns the result of close().
int closesocket(int fd);

// Runs the body of an exported call so that no exception ever reaches a C
// caller: an allocation failure becomes ENOMEM + 10000 and the failure value.
template <typename Body>
int guarded(int failure_value, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        set_system_error(ENOMEM);
    } catch (...) {
        set_system_error(EIO);
    }
    return failure_value;
}

}  // namespace wexo
