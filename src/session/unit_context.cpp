// Building a unit's context, and opening its command channel.
#include "session/unit_context.hpp"

#include "wire/unit_socket.hpp"

namespace wexo {

namespace {

UnitContext build(int index, wexo_device& rec, Sink sink) {
    return UnitContext{.index = index,
                       .rec = rec,
                       .link = unit_link(index, rec.sock, sink),
                       .sink = sink,
                       .resolved_board = Board::known(rec.model_code, rec.unit_kind)};
}

}  // namespace

UnitContext UnitContext::of(int index) { return build(index, record(index), Sink{}); }

UnitContext UnitContext::of(Deferred& slot) { return build(slot.index, slot.rec, Sink(slot)); }

int open_command_channel(UnitContext& unit) {
    wexo_device& rec = unit.rec;
    if (!socketconnect(&rec.sock, rec.unit_addr, rec.timeout_ms, rec.data_port, unit.sink)) {
        return 0;
    }
    reset_unit_inbox(unit.index, rec.sock, rec.timeout_ms);
    unit.link.sock = rec.sock;
    return 1;
}

int open_command_channel(int index) {
    UnitContext unit = UnitContext::of(index);
    return open_command_channel(unit);
}

Socket open_unit_connection(const UnitContext& unit, uint16_t port) {
    return open_unit_connection(unit.rec.unit_addr, unit.rec.timeout_ms, port, unit.sink);
}

}  // namespace wexo
