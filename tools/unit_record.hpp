// What the device table holds about one unit, read through the accessors,
// and what its model offers.
#pragma once

#include <optional>
#include <string>

#include "output.hpp"

namespace wexo::cli {

struct UnitRecord {
    int index = -1;
    bool listed = true;       // index is the place in a search (else JSON null)
    // False for a unit reached on its data port alone: no module exchange
    // took place, so addresses, firmware, serial and pin fields are unknown.
    bool module_known = true;
    std::string ip;
    std::string mac;
    int firm_version = 0;   // major*100 + minor*10
    std::string firm_type;  // two letters, '?' for unprintable ones
    int id = 255;           // 255 while unknown
    int model = -1;         // -1 while unknown
    int cp_mode[3] = {0, 0, 0};
    int cp_flag = 0;
    int baud = 0, data_bits = 0, parity = 0, stop_bits = 0, flow = 0, data_port = 0;
};

// Reads every accessor of record `index`; throws on a library failure.
UnitRecord read_record(int index);

// Operation counts of a model, from the library's capability query.
struct Capabilities {
    int outputs = 0;
    int inputs = 0;
    int auto_switching = 0; // 1 binary, 2 binary on some units, 3 ascii, else none
    int analog_outputs = 0;
    int analog_inputs = 0;
};
// Empty for an unknown model code (-1 or beyond the table).
std::optional<Capabilities> capabilities(int model);
const char* auto_switching_name(int variant);

std::string firmware_text(int version); // 610 -> "6.1"
std::string id_text(int id);            // "-" while unknown
std::string model_text(int model);      // "-" while unknown

// Text of the module's fields, "-" when unknown.
std::string ip_text(const UnitRecord& record);
std::string mac_field(const UnitRecord& record);
std::string firmware_field(const UnitRecord& record); // "6.1 (type X6)"
// "9600 baud, 8 data bits, parity none, 1 stop bit, flow control 0x00"
std::string serial_text(const UnitRecord& record);
// "CP1 0, CP2 2, CP3 1 (block flag 0)"
std::string cp_text(const UnitRecord& record);

// Writes the record as one JSON object. `full` adds serial, CP and
// capability details (info); without it the search columns only.
void write_record(Json& json, const UnitRecord& record, bool full);

} // namespace wexo::cli
