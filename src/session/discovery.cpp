// Device discovery (ZuWexoSearch) and the network module configuration queries.
#include "session/discovery.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "core/call.hpp"
#include "core/state.hpp"
#include "core/worker.hpp"
#include "session/connections.hpp"
#include "session/identification.hpp"
#include "session/unit_context.hpp"
#include "wire/unit_socket.hpp"

namespace wexo {

namespace {

// One configuration query to the record's module; the reply's source becomes
// the record's address, as the module may answer from another port.
bool config_exchange(const ModuleSocket& socket, wexo_device& rec, std::span<const uint8_t> query,
                     std::span<uint8_t> reply, std::size_t held, int timeout_ms, Sink sink) {
    sockaddr_in from{};
    if (socket.query(rec.unit_addr, query, reply, held, &from, timeout_ms) < 0) {
        sink.set_system_error(errno);
        return false;
    }
    rec.unit_addr = from;
    return true;
}

// The record's state as a search leaves it before any unit has answered.
void reset_for_search(int index) {
    wexo_device& rec = record(index);
    if (rec.connected) {
        entry_line("ZuWexoClose");
        close_channel(index);
        rec.connected = 0;
    }
    rec.board_id = 255;
    rec.model_code = -1;
    rec.timeout_ms = 1000;
    rec.unit_kind = 0;
}

// Drops record index, moving every following record of the table down one place.
void remove_record(int index) {
    std::memmove(&xportset[index], &xportset[index + 1],
                 sizeof(wexo_device) * static_cast<std::size_t>(WEXO_MAX_DEVICES - 1 - index));
    --xportcount;
}

// Search workers. The configuration queries are short exchanges that a few
// threads keep busy (starting more costs more than it saves); the
// identifications mostly wait, up to a unit's time-out, so there is one
// thread for every record the table can hold, and a full network is
// identified in about the time of one unit.
constexpr int kConfigWorkers = 32;
constexpr int kIdentifyWorkers = WEXO_MAX_DEVICES;

// Runs the configuration queries of every found unit and, where asked for,
// its identification, concurrently; what a caller can see (records, removals,
// codes, log lines) is what running them one unit after another gives:
// unit i's query, then its identification, then unit i+1's query.
void configure_found_units(const ModuleSocket& udp, int timeout_ms) {
    std::vector<Deferred> config(static_cast<std::size_t>(xportcount));
    for (std::size_t i = 0; i < config.size(); ++i) config[i].index = static_cast<int>(i);
    run_deferred(config, [timeout_ms](Deferred& slot) {
        // Each unit is asked over a socket of its own, so that replies are
        // told apart by socket.
        const Sink sink(slot);
        const ModuleSocket own = ModuleSocket::open(Broadcast::kNo, sink);
        return own.valid() ? get_xport_information2(own, slot.rec, timeout_ms, sink) : -1;
    }, kConfigWorkers);
    for (Deferred& slot : config) {
        if (slot.result >= 0) continue;
        // No socket of its own (out of descriptors): the search's socket serves.
        slot.error_set = false;
        run_here(slot, [&](Deferred& own) {
            return get_xport_information2(udp, own.rec, timeout_ms, Sink(own));
        });
    }

    // The table as the sequential removals leave it, and the identifications
    // at the indices their units then have.
    for (const Deferred& slot : config) xportset[slot.index] = slot.rec;
    std::vector<Deferred> identify;
    int position = 0;
    for (const Deferred& slot : config) {
        if (slot.result == 0) {
            remove_record(position);
            continue;
        }
        if (auto_requestid && record(position).data_port == auto_requestid_port) {
            identify.emplace_back().index = position;
        }
        ++position;
    }
    run_deferred(identify, [](Deferred& slot) {
        UnitContext unit = UnitContext::of(slot);
        return identify_as_requested(unit);
    }, kIdentifyWorkers);

    // Codes and log lines in the sequential order.
    auto next = identify.begin();
    position = 0;
    for (const Deferred& slot : config) {
        replay_deferred(slot);  // its record is in place already
        if (slot.result == 0) {
            set_error(kAlready);
            continue;
        }
        if (next != identify.end() && next->index == position) apply_deferred(*next++);
        ++position;
    }
}

}  // namespace

int get_xport_information(const ModuleSocket& socket, sockaddr_in* address, int index) {
    std::array<uint8_t, kDiscoveryReplySize> datagram{};
    sockaddr_in from{};
    // Called once the socket is readable: the reply is already waiting.
    const long received = socket.receive_waiting(datagram, &from);
    if (received < 0) return 0;
    if (address) *address = from;

    const DiscoveryReply reply =
        decode_discovery_reply(std::span<const uint8_t>(datagram.data(), received));
    wexo_device& rec = record(index);
    rec.unit_addr = from;
    std::copy(reply.mac.begin(), reply.mac.end(), rec.mac_address);
    std::memset(rec.ip_text, 0, sizeof(rec.ip_text));
    inet_ntop(AF_INET, &from.sin_addr, rec.ip_text, sizeof(rec.ip_text));
    rec.firm_major = reply.firm_major;
    rec.firm_minor = reply.firm_minor;
    rec.firm_type[0] = reply.firm_type[0];
    rec.firm_type[1] = reply.firm_type[1];
    return 1;
}

int get_xport_information2(const ModuleSocket& socket, wexo_device& rec, int timeout_ms,
                           Sink sink) {
    std::array<uint8_t, kSetupRecordSize> setup{};
    if (!config_exchange(socket, rec, kSetupQuery, setup, kSetupRecordHeld, timeout_ms, sink)) {
        return 0;
    }

    const char type0 = rec.firm_type[0];
    const char type1 = rec.firm_type[1];
    // '_' 'L' and '_' 'W' modules report only their data port and have no
    // configurable pins to ask for. Their record keeps no pin or serial
    // settings of the unit that held the index before.
    if (type0 == '_' && (type1 == 'L' || type1 == 'W')) {
        rec.serial_flags = rec.baud_code = rec.flow_control = 0;
        std::fill(std::begin(rec.cp_mode), std::end(rec.cp_mode), 0);
        rec.cp_flag = 0;
        std::fill(std::begin(rec.cp_block), std::end(rec.cp_block), uint8_t{0});
        rec.data_port = setup_record_data_port(setup);
        rec.unit_kind = type1 == 'L' ? 3 : 5;
        return 1;
    }

    SetupLayout layout = SetupLayout::kFirst;
    if (type0 == 'X' && type1 == '6') {
        std::array<uint8_t, kIdTextReplySize> text{};
        if (!config_exchange(socket, rec, kIdTextQuery, text, kIdTextHeld, timeout_ms, sink)) {
            return 0;
        }
        layout = x6_layout(text);
    }
    const SerialSetup serial = decode_setup_record(setup, layout);
    rec.serial_flags = serial.serial_flags;
    rec.baud_code = serial.baud_code;
    rec.flow_control = serial.flow_control;
    rec.data_port = serial.data_port;

    std::array<uint8_t, kCpBlockSize> block{};
    if (!config_exchange(socket, rec, kCpQuery, block, kCpBlockHeld, timeout_ms, sink)) return 0;
    const CpConfig cp = decode_cp_block(block);
    std::copy(cp.block.begin(), cp.block.end(), rec.cp_block);
    std::copy(cp.modes.begin(), cp.modes.end(), rec.cp_mode);
    rec.cp_flag = cp.flag;
    return 1;
}

int search(int timeout_ms) {
    TableLock lock;
    if (!lock.held()) return lock_refused();
    for (int i = 0; i < WEXO_MAX_DEVICES; ++i) reset_for_search(i);
    xportcount = 0;

    ModuleSocket udp = ModuleSocket::open(Broadcast::kYes);
    if (!udp.valid()) return -1;

    if (int err = udp.send_discovery(config_broadcast())) {
        set_system_error(err);
        return -1;
    }

    // One window for all replies: every wait gets what is left of it.
    const Deadline window = Deadline::after_ms(timeout_ms);
    for (;;) {
        const int ready = udp.wait(window);
        if (ready < 0) {
            set_system_error(errno);
            return -1;
        }
        if (ready == 0) break;
        sockaddr_in from{};
        if (xportcount < WEXO_MAX_DEVICES) {
            if (get_xport_information(udp, &from, xportcount)) ++xportcount;
        } else {
            // The table is full: later replies are read only to empty the socket.
            std::array<uint8_t, kDiscoveryReplySize> ignored{};
            udp.receive_waiting(ignored, &from);
        }
    }

    configure_found_units(udp, timeout_ms);
    udp.close();
    if (xportcount == 0 && last_error() == kOk) set_error(kNotFound);
    xportsearchcount = xportcount;
    output_log(kLogResult, "ZuWexoSearch:%d", xportcount);
    return xportcount;
}

}  // namespace wexo

extern "C" WEXO_API int ZuWexoSearch(int timeout_ms) {
    return wexo::initialized_call("ZuWexoSearch", -1, [&] { return wexo::search(timeout_ms); });
}
