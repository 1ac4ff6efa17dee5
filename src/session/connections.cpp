// Connect calls (ZuWexoConnect and its variants).
#include "session/connections.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "core/call.hpp"
#include "core/state.hpp"
#include "session/identification.hpp"
#include "wire/module_udp.hpp"
#include "session/discovery.hpp"
#include "session/unit_context.hpp"
#include "wire/command_channel.hpp"
#include "wire/unit_socket.hpp"

namespace wexo {

namespace {

// Direct connections stop at 255 records; only a search fills the 256th
// (and a table so filled takes no direct connection either).
constexpr int kDirectLimit = WEXO_MAX_DEVICES - 1;

// Direct connections add a record only while the table has room. Read under
// the lock: another thread's direct connect may be adding one.
bool table_has_room() {
    if (xportcount < kDirectLimit) return true;
    set_error(kTableFull);
    return false;
}

// Index of the first record of the table for which matches is true, or -1.
template <typename Match>
int first_record(Match&& matches) {
    for (int i = 0; i < xportcount; ++i) {
        if (matches(xportset[i])) return i;
    }
    return -1;
}

// Runs connect_ on the first matching record, or fails with code 4. The
// records are walked under the lock, so that a search or a direct connect
// on another thread may rewrite the table meanwhile.
template <typename Match>
int connect_match(Match&& matches) {
    TableLock lock;
    if (!lock.held()) return lock_refused();
    const int match = first_record(matches);
    if (match < 0) {
        set_error(kNoMatch);
        return -1;
    }
    return connect_(match, kDefaultCpPort);
}

int no_match() {
    set_error(kNoMatch);
    return -1;
}

bool ip_text_equals(const wexo_device& rec, const char* text) {
    const std::size_t length = strnlen(rec.ip_text, sizeof(rec.ip_text));
    return std::strncmp(rec.ip_text, text, length) == 0 && text[length] == '\0';
}

// Adds (or reuses) a record for the unit at host from one exchange with its
// module: the first step of every masquerade connect. Returns the index or
// -1 with the code set. Called under the lock.
int add_over_masquerade(const char* host, int timeout_ms, int data_port, int udp_port) {
    if (!table_has_room()) return -1;
    ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    if (!udp.valid()) return -1;

    sockaddr_in module{};
    module.sin_family = AF_INET;
    module.sin_port = htons(static_cast<uint16_t>(udp_port));
    if (int err = resolve_ipv4(host, &module.sin_addr)) {
        set_system_error(err);
        return -1;
    }
    // A send that fails shows up as the missing reply below.
    udp.send_discovery(module);

    // Only the host asked may answer; datagrams of others are dropped.
    const int ready = udp.wait_from(module, Deadline::after_ms(timeout_ms));
    if (ready < 0) {
        set_system_error(errno);
        return -1;
    }
    if (ready == 0) {
        set_error(kNoMatch);
        return -1;
    }

    const DirectSlot slot = choose_direct_slot();
    set_fresh_record(slot.index, timeout_ms);
    sockaddr_in from{};
    if (!get_xport_information(udp, &from, slot.index) ||
        !get_xport_information2(udp, record(slot.index), timeout_ms)) {
        set_error(kNoMatch);
        return -1;
    }
    if (slot.appended) add_records(1);
    if (data_port != 0) record(slot.index).data_port = static_cast<uint16_t>(data_port);
    return slot.index;
}

int connect_over_masquerade(const char* host, int timeout_ms, int data_port, int cp_port,
                            int udp_port) {
    TableLock lock;
    if (!lock.held()) return lock_refused();
    const int index = add_over_masquerade(host, timeout_ms, data_port, udp_port);
    if (index < 0) return -1;
    output_log(kLogResult, "ZuWexoConnectOverIPMasquerade:%s:%d:%d:%d:%d", host, timeout_ms,
               data_port, cp_port, udp_port);
    return connect_(index, cp_port);
}

int add_unit(const char* host, int timeout_ms) {
    TableLock lock;
    if (!lock.held()) return lock_refused();
    const int index = add_over_masquerade(host, timeout_ms, 0, kConfigPort);
    if (index < 0) return -1;
    record(index).cp_port = kDefaultCpPort;
    output_log(kLogResult, "wexo_add_unit:%s:%d:%d", host, timeout_ms, index);
    return index;
}

int connect_direct2(const char* host, int timeout_ms, int data_port) {
    int result = -1;
    {
        TableLock lock;
        if (!lock.held()) return lock_refused();
        if (!table_has_room()) return -1;
        const DirectSlot slot = choose_direct_slot();
        set_fresh_record(slot.index, timeout_ms);
        wexo_device& rec = record(slot.index);
        rec.unit_addr.sin_family = AF_INET;
        rec.data_port = static_cast<uint16_t>(data_port);
        if (int err = resolve_ipv4(host, &rec.unit_addr.sin_addr)) {
            set_system_error(err);
            return -1;
        }
        if (slot.appended) add_records(1);
        result = connect_(slot.index, 0);
        if (result < 0 && slot.appended) add_records(-1);
    }
    // Written whatever connect_ gave: this line reports the attempt.
    output_log(kLogResult, "ZuWexoConnectDirect2:%s:%d:%d", host, timeout_ms, data_port);
    return result;
}

}  // namespace

int resolve_ipv4(const char* host, in_addr* address) {
    if (host == nullptr) return EINVAL;
    if (inet_pton(AF_INET, host, address) == 1) return 0;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    errno = 0;
    const int status = getaddrinfo(host, nullptr, &hints, &found);
    if (status != 0) {
        // getaddrinfo speaks EAI_* codes, not errno; the last-error code
        // needs an errno, so a name that does not resolve reads as a host
        // that cannot be reached.
        if (status == EAI_SYSTEM) return errno != 0 ? errno : EIO;
        if (status == EAI_MEMORY) return ENOMEM;
        return EHOSTUNREACH;
    }
    int result = EHOSTUNREACH;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
            result = 0;
            break;
        }
    }
    freeaddrinfo(found);
    return result;
}

DirectSlot choose_direct_slot() {
    for (int i = xportsearchcount; i < xportcount; ++i) {
        if (i >= 0 && !record(i).connected) return {i, false};
    }
    return {xportcount, true};
}

void set_fresh_record(int index, int timeout_ms) {
    wexo_device& rec = record(index);
    rec.connected = 0;
    rec.board_id = 255;
    rec.model_code = -1;
    rec.timeout_ms = timeout_ms;
    rec.unit_kind = 0;
}

int connect_(int index, int cp_port) {
    wexo_device& rec = record(index);
    if (rec.connected) {
        set_error(kAlready);
        return -1;
    }
    UnitContext unit = UnitContext::of(index);
    if (rec.model_code == -1 && !identify_as_requested(unit)) return -1;
    // The module needs a moment between the identification's connection
    // and the next one.
    Sleep(100);
    if (!open_command_channel(unit)) return -1;
    rec.connected = 1;
    rec.cp_port = static_cast<uint16_t>(cp_port);
    output_log(kLogResult, "connecting...:%d:%s:%02x%02x%02x", index, rec.ip_text,
               rec.mac_address[3], rec.mac_address[4], rec.mac_address[5]);
    return index;
}

int close_channel(int index) {
    if (!check_initialized_index(index)) return 0;
    wexo_device& d = record(index);
    if (d.connected == 0) return 0;
    if (shutdown(d.sock, SHUT_RDWR) != 0) set_system_error(errno);
    // One close only: on Linux the descriptor is released even when close
    // reports an error, and a second close could hit an unrelated descriptor
    // that reused the number.
    const int rc = closesocket(d.sock);
    const int close_errno = errno;
    reset_unit_inbox(index, -1, d.timeout_ms);  // the descriptor number may come back
    d.connected = 0;
    if (rc != 0 && close_errno != EINTR && close_errno != EINPROGRESS) {
        set_system_error(close_errno);
        return 0;
    }
    set_error(kOk);
    return result_line("ZuWexoClose:%d", index);
}

}  // namespace wexo

namespace {

constexpr int kLastPort = 65535;

// Opening step of the direct connect calls after the initialised check:
// ports that do not fit 16 bits are refused before anything is added or
// sent (the room in the table is checked next, under the lock).
bool ports_allowed(std::initializer_list<std::pair<int, int>> ports_and_lowest) {
    for (const auto& [port, lowest] : ports_and_lowest) {
        if (!wexo::in_range(port, lowest, kLastPort)) return false;
    }
    return true;
}

}  // namespace

extern "C" WEXO_API int ZuWexoConnect(int index) {
    return wexo::api_call("ZuWexoConnect", -1, [&] {
        // Locked before the check, which reads the record count that a
        // direct connect on another thread may be changing.
        wexo::TableLock lock;
        if (!lock.held()) return wexo::lock_refused();
        if (!wexo::check_common(index, 0)) return -1;
        return wexo::connect_(index, wexo::kDefaultCpPort);
    });
}

extern "C" WEXO_API int ZuWexoConnectByIdModel(int id, int model) {
    return wexo::initialized_call("ZuWexoConnectByIdModel", -1, [&] {
        return wexo::connect_match(
            [&](const wexo_device& d) { return d.board_id == id && d.model_code == model; });
    });
}

extern "C" WEXO_API int ZuWexoConnectByIpAddress(const char* text) {
    return wexo::initialized_call("ZuWexoConnectByIpAddress", -1, [&] {
        if (text == nullptr) return wexo::no_match();
        return wexo::connect_match([&](const wexo_device& d) { return wexo::ip_text_equals(d, text); });
    });
}

extern "C" WEXO_API int ZuWexoConnectByMacAddress(const unsigned char* mac) {
    return wexo::initialized_call("ZuWexoConnectByMacAddress", -1, [&] {
        if (mac == nullptr) return wexo::no_match();
        return wexo::connect_match(
            [&](const wexo_device& d) { return std::memcmp(d.mac_address, mac, 6) == 0; });
    });
}

extern "C" WEXO_API int ZuWexoConnectOverIPMasquerade(const char* host, int timeout_ms,
                                                      int data_port, int cp_port, int udp_port) {
    return wexo::initialized_call("ZuWexoConnectOverIPMasquerade", -1, [&] {
        if (!ports_allowed({{data_port, 0}, {cp_port, 0}, {udp_port, 1}})) return -1;
        return wexo::connect_over_masquerade(host, timeout_ms, data_port, cp_port, udp_port);
    });
}

extern "C" WEXO_API int ZuWexoConnectDirect(const char* host, int timeout_ms) {
    return wexo::api_call("ZuWexoConnectDirect", -1, [&] {
        return wexo::initialized_call("ZuWexoConnectOverIPMasquerade", -1, [&] {
            return wexo::connect_over_masquerade(host, timeout_ms, 0, wexo::kDefaultCpPort,
                                                 wexo::kConfigPort);
        });
    });
}

extern "C" WEXO_API int wexo_add_unit(const char* host, int timeout_ms) {
    return wexo::initialized_call("wexo_add_unit", -1, [&] { return wexo::add_unit(host, timeout_ms); });
}

extern "C" WEXO_API int ZuWexoConnectDirect2(const char* host, int timeout_ms, int data_port) {
    return wexo::initialized_call("ZuWexoConnectDirect2", -1, [&] {
        if (!ports_allowed({{data_port, 0}})) return -1;
        return wexo::connect_direct2(host, timeout_ms, data_port);
    });
}

extern "C" WEXO_API int ZuWexoClose(int index) {
    return wexo::api_call("ZuWexoClose", 0, [&] {
        // Under the lock while the library runs: a direct connect call on
        // another thread may choose this record as soon as it is closed.
        // Without it (not initialised, or ZuWexoEnd under way) it closes all
        // the same.
        const wexo::TableLock lock;
        return wexo::close_channel(index);
    });
}

extern "C" WEXO_API int ZuWexoSelectNetworkDevice(const char* text) {
    return wexo::api_call("ZuWexoSelectNetworkDevice", 0,
                          [&] { return wexo::select_network_device(text); });
}

extern "C" WEXO_API int ZuWexoEnd(void) {
    return wexo::api_call("ZuWexoEnd", 0, [] {
        return wexo::end_library([](int index) {
            wexo::entry_line("ZuWexoClose");
            wexo::close_channel(index);
        });
    });
}
