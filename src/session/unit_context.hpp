// The context of one call on one unit, built once by the call's frame right
// after its checks and handed down instead of the index: the unit's record,
// its command channel, its board and where its codes and log lines go. The
// layers below never look the index up again; the wire sees only the link.
//
//   extern "C" int ZuWexoInPio(int index, int channel, int* value) {
//       return on_unit("ZuWexoInPio", index, [&](UnitContext& unit) {
//           ... dio::read_input(unit, channel, result) ...
//       });
//   }
#pragma once

#include <optional>

#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "core/state.hpp"
#include "wire/command_channel.hpp"
#include "wire/unit_socket.hpp"

namespace wexo {

struct UnitContext {
    int index;         // the unit's place in the table, as its log lines show it
    wexo_device& rec;  // its record (a search worker's own copy on a worker)
    Link link;         // its command channel
    Sink sink;         // where its codes and log lines go
    // Its board from the capability resolver, once: nullopt when the
    // record's model code has no row of the model table.
    std::optional<Board> resolved_board;

    // Record index on the caller's thread.
    static UnitContext of(int index);
    // A search worker's unit: its copy of the record and its own sink.
    static UnitContext of(Deferred& slot);

    // The board as the record named it when the context was built: nullopt
    // with code 6 when its model code has no row of the model table.
    std::optional<Board> board() const {
        if (!resolved_board) sink.set_error(kNotPossible);
        return resolved_board;
    }
};

// Opens the unit's command channel: a connection to its data port stored in
// its record's sock, with an empty inbox, that the context's link then uses.
// 1, or 0 with the code set.
int open_command_channel(UnitContext& unit);
// The same for record index, on the caller's thread.
int open_command_channel(int index);

// A short connection of the unit's own to port (pins, setup menu), owned by
// the returned Socket (invalid, with the code set, on failure).
Socket open_unit_connection(const UnitContext& unit, uint16_t port);

// unit_call (a connected unit with a known model) and record_call (a record
// of the table), whose body takes the unit's context.
template <typename Body>
int on_unit(const char* name, int index, Body&& body) noexcept {
    return unit_call(name, index, [&] {
        UnitContext unit = UnitContext::of(index);
        return body(unit);
    });
}
template <typename Body>
int on_record(const char* name, int index, Body&& body) noexcept {
    return record_call(name, index, [&] {
        UnitContext unit = UnitContext::of(index);
        return body(unit);
    });
}

// The checks of unit_call (check_common(index, 1)), then body on the unit's
// context: for calls that write another call's entry line or run their own
// guard, and check later.
template <typename Body>
int with_unit(int index, Body&& body) {
    if (!check_common(index, 1)) return 0;
    UnitContext unit = UnitContext::of(index);
    return body(unit);
}

}  // namespace wexo
