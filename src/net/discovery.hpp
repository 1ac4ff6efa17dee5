// Finding units by UDP broadcast and reading their network module configuration
// (ZuWexoSearch), and the datagram exchanges on the module's configuration
// port that the direct connections and the module configuration reuse.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/state.hpp"
#include "net/module_udp.hpp"
#include "net/unit_socket.hpp"
#include "wexo_data.h"

namespace wexo {

// Receive sizes of the replies.
constexpr std::size_t kDiscoveryReplySize = 30;
constexpr std::size_t kSetupRecordSize = 124;
constexpr std::size_t kIdTextReplySize = 33;
constexpr std::size_t kCpBlockSize = 130;

// What a discovery reply tells about the module. Bytes beyond the end of a
// short datagram read as zero.
struct DiscoveryReply {
    std::array<uint8_t, 6> mac{};
    uint8_t firm_major = 0;
    uint8_t firm_minor = 0;
    std::array<char, 2> firm_type{};
};
DiscoveryReply decode_discovery_reply(std::span<const uint8_t> datagram);

// The serial settings and data port of a setup record. Modules keep them at
// offset 20 (first layout) or, in some 'X' '6' firmware, at offset 68.
enum class SetupLayout { kFirst, kSecond };
struct SerialSetup {
    uint8_t serial_flags = 0;
    uint8_t baud_code = 0;
    uint8_t flow_control = 0;
    uint16_t data_port = 0;
};
SerialSetup decode_setup_record(std::span<const uint8_t> record, SetupLayout layout);
// The data port alone (offset 24), which is all '_' 'L' and '_' 'W' modules give.
uint16_t setup_record_data_port(std::span<const uint8_t> record);

// Whether the text at bytes 16..31 of the identification text reply holds "GC".
bool id_text_has_gc(std::span<const uint8_t> reply);
// Layout of the setup record of an 'X' '6' module, from its identification text.
inline SetupLayout x6_layout(std::span<const uint8_t> id_text_reply) {
    return id_text_has_gc(id_text_reply) ? SetupLayout::kFirst : SetupLayout::kSecond;
}

// The CP configuration block as the record keeps it.
struct CpConfig {
    std::array<uint8_t, kCpBlockSize> block{};
    std::array<int32_t, 3> modes{};
    int32_t flag = 0;
};
CpConfig decode_cp_block(std::span<const uint8_t> datagram);

// Receives one waiting discovery reply into record index; address receives
// its source. Returns 1, or 0 when the receive fails (no code set).
int get_xport_information(const ModuleSocket& socket, sockaddr_in* address, int index);

// Reads the setup record (and, by firmware type, the identification text and
// the CP block) of record index over socket, each reply awaited at most
// timeout_ms and taken only from the record's module. Returns 1, or 0 with
// code errno + 10000.
int get_xport_information2(const ModuleSocket& socket, int index, int timeout_ms);

// Body of ZuWexoSearch after the initialised check.
int search(int timeout_ms);

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
