// Output helpers of the wexo tool: a small JSON writer, hex dumps, aligned
// tables and the failure report on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli.hpp"

namespace wexo::cli {

// Writes compact JSON into a string. Commas and nesting are tracked, so
// callers only say what comes next. Strings are escaped; UTF-8 passes as is.
class Json {
public:
    Json& begin_object();
    Json& end_object();
    Json& begin_array();
    Json& end_array();
    Json& key(std::string_view name);
    Json& value(std::string_view text);
    Json& value(const char* text) { return value(std::string_view(text)); }
    Json& value(const std::string& text) { return value(std::string_view(text)); }
    Json& value(long long number);
    Json& value(int number) { return value(static_cast<long long>(number)); }
    Json& value(unsigned number) { return value(static_cast<long long>(number)); }
    Json& value(bool flag);
    // Shortest text that reads back as the same double; null when not finite.
    Json& value(double number);
    Json& null();

    template <typename T> Json& field(std::string_view name, const T& v) {
        key(name);
        return value(v);
    }

    const std::string& text() const { return out_; }

private:
    void before_value();

    std::string out_;
    std::vector<bool> has_items_; // one entry per open container
    bool after_key_ = false;
};

std::string json_escape(std::string_view text);

// "0000  41 42 0d 0a  |AB..|" lines, 16 bytes each.
std::string hex_dump(const std::uint8_t* data, std::size_t size);
// Plain lower-case hex without separators.
std::string hex_string(const std::uint8_t* data, std::size_t size);
// "02:57:58:01:02:03".
std::string mac_text(const unsigned char* mac);

// Shortest text that reads back as the same double ("5", "-2.5", "1e-07").
std::string number_text(double number);
// Fixed decimals ("5.000001" for 6).
std::string fixed_text(double number, int decimals);

// Left-aligned columns separated by two spaces; the first row is the header.
std::string format_table(const std::vector<std::vector<std::string>>& rows);

// With --json the library's log lines (written with puts to descriptor 1)
// go to standard error from here on; the tool's output keeps standard output.
// Called before anything is written.
void send_library_log_to_stderr();

// Writes a line (adds the newline) to standard output.
void print_line(const std::string& line);
// Writes text as it is to standard output.
void print_text(const std::string& text);

// Short English explanation of a last-error code.
std::string gloss(int code);

// Writes the failure to standard error: human text (the English text of the
// code; with japanese the library's own message first), or one JSON object
// {"error": {...}} with both when json is set.
void report_failure(const Failure& failure, bool json, bool japanese);
// Writes a warning line to standard error.
void warn(const std::string& text);

} // namespace wexo::cli
