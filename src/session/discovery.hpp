// Finding units by UDP broadcast and reading their network module configuration
// (ZuWexoSearch), and the configuration queries that the direct connections
// reuse. The datagrams themselves are decoded in wire/module_udp.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/state.hpp"
#include "wire/module_udp.hpp"
#include "wire/unit_socket.hpp"
#include "wexo_data.h"

namespace wexo {

// Receives one waiting discovery reply into record index; address receives
// its source. Returns 1, or 0 when the receive fails (no code set).
int get_xport_information(const ModuleSocket& socket, sockaddr_in* address, int index);

// Reads the setup record (and, by firmware type, the identification text and
// the CP block) of rec over socket, each reply awaited at most timeout_ms and
// taken only from the record's module. Returns 1, or 0 with code errno +
// 10000 (to sink).
int get_xport_information2(const ModuleSocket& socket, wexo_device& rec, int timeout_ms,
                           Sink sink = {});

// Body of ZuWexoSearch after the initialised check.
int search(int timeout_ms);

}  // namespace wexo
