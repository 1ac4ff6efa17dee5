// The frame of every exported call: entry line, the checks the call needs,
// a guard so that nothing thrown inside reaches a C caller, and the result
// line on success.
//
//   extern "C" int ZuWexoGetId(int index, int* id) {
//       return record_call("ZuWexoGetId", index, [&] {
//           if (!outputs_given(id)) return 0;
//           *id = record(index).board_id;
//           return result_line("ZuWexoGetId:%d:%d", index, *id);
//       });
//   }
#pragma once

#include <pthread.h>

#include "core/state.hpp"

namespace wexo {

// A thread cancelled while one of its calls runs ends at its next
// cancellation point after the call, never inside it: unwinding there would
// meet the guard below (and end the process), and leave the mutex, open
// descriptors or the search's worker threads behind.
class CancelHeld {
public:
    CancelHeld() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_); }
    ~CancelHeld() { pthread_setcancelstate(old_, nullptr); }
    CancelHeld(const CancelHeld&) = delete;
    CancelHeld& operator=(const CancelHeld&) = delete;

private:
    int old_ = PTHREAD_CANCEL_ENABLE;
};

// Entry line, then body under the guard; failure is what a thrown exception
// returns (0, or -1 for the calls that return an index or a count).
template <typename Body>
int api_call(const char* name, int failure, Body&& body) noexcept {
    const CancelHeld no_cancel;
    entry_line(name);
    return guarded(failure, body);
}

// A call that needs the library initialised; clears the code first.
template <typename Body>
int initialized_call(const char* name, int failure, Body&& body) noexcept {
    return api_call(name, failure, [&] {
        set_error(kOk);
        if (initialized == 0) {
            set_error(kNotInitialized);
            return failure;
        }
        return body();
    });
}

// A call on a record of the table that talks to no board: check_common(index, 0).
template <typename Body>
int record_call(const char* name, int index, Body&& body) noexcept {
    return api_call(name, 0, [&] { return check_common(index, 0) ? body() : 0; });
}

// A call that sends board commands: check_common(index, 1), a connected unit
// with a known model code.
template <typename Body>
int unit_call(const char* name, int index, Body&& body) noexcept {
    return api_call(name, 0, [&] { return check_common(index, 1) ? body() : 0; });
}

// Every result pointer must be given: a null one is refused with code 6
// before anything is sent or stored.
template <typename... Pointers>
bool outputs_given(const Pointers*... pointers) {
    if (((pointers != nullptr) && ...)) return true;
    set_error(kNotPossible);
    return false;
}

// Refuses a value outside [low, high] with code 6.
inline bool in_range(long long value, long long low, long long high) {
    if (value >= low && value <= high) return true;
    set_error(kNotPossible);
    return false;
}

// Writes the result line and returns 1, the success value of most calls.
int result_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Holds the library mutex that serialises the search, the connect calls and
// close. Refused (held() false) once ZuWexoEnd has begun or the library is
// not initialised: End waits for the calls that hold it, then destroys it.
class TableLock {
public:
    TableLock() : held_(enter_table_call()) {
        if (held_) pthread_mutex_lock(&::mutex);
    }
    ~TableLock() {
        if (!held_) return;
        pthread_mutex_unlock(&::mutex);
        leave_table_call();
    }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

// The failure of a search or connect call whose lock was refused: code 1,
// as for any call after ZuWexoEnd.
inline int lock_refused() {
    set_error(kNotInitialized);
    return -1;
}

}  // namespace wexo
