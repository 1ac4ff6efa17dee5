// The frame shared by the digital I/O and auto-switching calls.
#pragma once

#include "core/state.hpp"

namespace wexo::dio {

// Entry line, validation of a connected and identified unit, then body,
// which does the work and writes the result line. Nothing thrown inside
// reaches the C caller.
template <typename Body>
int unit_call(const char* name, int index, Body&& body) noexcept {
    entry_line(name);
    return guarded(0, [&] { return check_common(index, 1) ? body() : 0; });
}

// A null pointer for a result is refused like a parameter out of range.
inline bool have_output(const void* pointer) {
    if (pointer != nullptr) return true;
    set_error(kNotPossible);
    return false;
}

}  // namespace wexo::dio
