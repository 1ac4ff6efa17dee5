// Connect calls (ZuWexoConnect and its variants).
#include "net/connections.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "core/state.hpp"
#include "net/discovery.hpp"
#include "net/unit_socket.hpp"

namespace wexo {

namespace {

// Direct connections stop at 255 records; only a search fills the 256th
// (and a table so filled takes no direct connection either).
constexpr int kDirectLimit = WEXO_MAX_DEVICES - 1;

// Runs connect_ on a matched record under the lock, or fails with code 4.
int connect_match(int match) {
    if (match < 0) {
        set_error(kNoMatch);
        return -1;
    }
    TableLock lock;
    return connect_(match, kDefaultCpPort);
}

bool ip_text_equals(const wexo_device& rec, const char* text) {
    const std::size_t length = strnlen(rec.ip_text, sizeof(rec.ip_text));
    return std::strncmp(rec.ip_text, text, length) == 0 && text[length] == '\0';
}

int connect_over_masquerade(const char* host, int timeout_ms, int data_port, int cp_port,
                            int udp_port) {
    TableLock lock;
    Socket udp = open_config_socket(timeout_ms, Broadcast::kNo);
    if (!udp.valid()) return -1;
    const int fd = udp.get();

    sockaddr_in module{};
    module.sin_family = AF_INET;
    module.sin_port = htons(static_cast<uint16_t>(udp_port));
    if (int err = resolve_ipv4(host, &module.sin_addr)) {
        set_system_error(err);
        return -1;
    }
    // A send that fails shows up as the missing reply below.
    send_discovery(fd, module);

    const int ready = wait_readable(fd, timeout_ms);
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
    if (!get_xport_information(fd, &from, slot.index) ||
        !get_xport_information2(fd, slot.index, timeout_ms)) {
        set_error(kNoMatch);
        return -1;
    }
    if (slot.appended) ++xportcount;
    udp.reset();
    wexo_device& rec = record(slot.index);
    if (data_port != 0) rec.data_port = static_cast<uint16_t>(data_port);

    output_log(kLogResult, "ZuWexoConnectOverIPMasquerade:%s:%d:%d:%d:%d", host, timeout_ms,
               data_port, cp_port, udp_port);
    return connect_(slot.index, cp_port);
}

int connect_direct2(const char* host, int timeout_ms, int data_port) {
    int result = -1;
    {
        TableLock lock;
        const DirectSlot slot = choose_direct_slot();
        set_fresh_record(slot.index, timeout_ms);
        wexo_device& rec = record(slot.index);
        rec.unit_addr.sin_family = AF_INET;
        rec.data_port = static_cast<uint16_t>(data_port);
        if (int err = resolve_ipv4(host, &rec.unit_addr.sin_addr)) {
            set_system_error(err);
            return -1;
        }
        if (slot.appended) ++xportcount;
        result = connect_(slot.index, 0);
        if (result < 0 && slot.appended) --xportcount;
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
    if (rec.model_code == -1) {
        int id = 0;
        int model = 0;
        if (!ZuWexoRequestIdModel(index, &id, &model)) return -1;
    }
    // The module needs a moment between the identification's connection
    // and the next one.
    Sleep(100);
    if (!socketconnect(&rec.sock, index, rec.data_port)) return -1;
    rec.connected = 1;
    rec.cp_port = static_cast<uint16_t>(cp_port);
    output_log(kLogResult, "connecting...:%d:%s:%02x%02x%02x", index, rec.ip_text,
               rec.mac_address[3], rec.mac_address[4], rec.mac_address[5]);
    return index;
}

}  // namespace wexo

namespace {

// Opening steps of the matching connect calls: entry line, code cleared,
// initialised check.
bool begin_match_call(const char* name) {
    wexo::entry_line(name);
    wexo::set_error(wexo::kOk);
    if (!initialized) {
        wexo::set_error(wexo::kNotInitialized);
        return false;
    }
    return true;
}

// Opening steps of the direct connect calls: as above, plus room in the table.
bool begin_direct_call(const char* name) {
    if (!begin_match_call(name)) return false;
    if (xportcount >= wexo::kDirectLimit) {
        wexo::set_error(wexo::kTableFull);
        return false;
    }
    return true;
}

}  // namespace

extern "C" WEXO_API int ZuWexoConnect(int index) {
    return wexo::guarded(-1, [&] {
        wexo::entry_line("ZuWexoConnect");
        if (!wexo::check_common(index, 0)) return -1;
        wexo::TableLock lock;
        return wexo::connect_(index, wexo::kDefaultCpPort);
    });
}

extern "C" WEXO_API int ZuWexoConnectByIdModel(int id, int model) {
    return wexo::guarded(-1, [&] {
        if (!begin_match_call("ZuWexoConnectByIdModel")) return -1;
        int match = -1;
        for (int i = 0; i < xportcount && match < 0; ++i) {
            if (xportset[i].board_id == id && xportset[i].model_code == model) match = i;
        }
        return wexo::connect_match(match);
    });
}

extern "C" WEXO_API int ZuWexoConnectByIpAddress(const char* text) {
    return wexo::guarded(-1, [&] {
        if (!begin_match_call("ZuWexoConnectByIpAddress")) return -1;
        int match = -1;
        for (int i = 0; text != nullptr && i < xportcount && match < 0; ++i) {
            if (wexo::ip_text_equals(xportset[i], text)) match = i;
        }
        return wexo::connect_match(match);
    });
}

extern "C" WEXO_API int ZuWexoConnectByMacAddress(const unsigned char* mac) {
    return wexo::guarded(-1, [&] {
        if (!begin_match_call("ZuWexoConnectByMacAddress")) return -1;
        int match = -1;
        for (int i = 0; mac != nullptr && i < xportcount && match < 0; ++i) {
            if (std::memcmp(xportset[i].mac_address, mac, 6) == 0) match = i;
        }
        return wexo::connect_match(match);
    });
}

extern "C" WEXO_API int ZuWexoConnectOverIPMasquerade(const char* host, int timeout_ms,
                                                      int data_port, int cp_port, int udp_port) {
    return wexo::guarded(-1, [&] {
        if (!begin_direct_call("ZuWexoConnectOverIPMasquerade")) return -1;
        return wexo::connect_over_masquerade(host, timeout_ms, data_port, cp_port, udp_port);
    });
}

extern "C" WEXO_API int ZuWexoConnectDirect(const char* host, int timeout_ms) {
    return wexo::guarded(-1, [&] {
        wexo::entry_line("ZuWexoConnectDirect");
        return ZuWexoConnectOverIPMasquerade(host, timeout_ms, 0, wexo::kDefaultCpPort,
                                             wexo::kConfigPort);
    });
}

extern "C" WEXO_API int ZuWexoConnectDirect2(const char* host, int timeout_ms, int data_port) {
    return wexo::guarded(-1, [&] {
        if (!begin_direct_call("ZuWexoConnectDirect2")) return -1;
        return wexo::connect_direct2(host, timeout_ms, data_port);
    });
}
