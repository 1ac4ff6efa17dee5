#include "output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "wexo.h"

namespace wexo::cli {

// ------------------------------------------------------------------ JSON

void Json::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!has_items_.empty()) {
        if (has_items_.back()) out_ += ',';
        has_items_.back() = true;
    }
}

Json& Json::begin_object() {
    before_value();
    out_ += '{';
    has_items_.push_back(false);
    return *this;
}

Json& Json::end_object() {
    out_ += '}';
    has_items_.pop_back();
    return *this;
}

Json& Json::begin_array() {
    before_value();
    out_ += '[';
    has_items_.push_back(false);
    return *this;
}

Json& Json::end_array() {
    out_ += ']';
    has_items_.pop_back();
    return *this;
}

Json& Json::key(std::string_view name) {
    before_value();
    out_ += json_escape(name);
    out_ += ':';
    after_key_ = true;
    return *this;
}

Json& Json::value(std::string_view text) {
    before_value();
    out_ += json_escape(text);
    return *this;
}

Json& Json::value(long long number) {
    before_value();
    out_ += std::to_string(number);
    return *this;
}

Json& Json::value(bool flag) {
    before_value();
    out_ += flag ? "true" : "false";
    return *this;
}

Json& Json::value(double number) {
    if (!std::isfinite(number)) return null(); // JSON has no NaN or infinity
    before_value();
    out_ += number_text(number);
    return *this;
}

Json& Json::null() {
    before_value();
    out_ += "null";
    return *this;
}

std::string json_escape(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out += buf;
            } else {
                out += c; // UTF-8 bytes go through unchanged
            }
        }
    }
    out += '"';
    return out;
}

// ------------------------------------------------------------------ text

std::string hex_dump(const std::uint8_t* data, std::size_t size) {
    std::string out;
    char buf[24];
    for (std::size_t line = 0; line < size; line += 16) {
        std::snprintf(buf, sizeof buf, "%04zx ", line);
        out += buf;
        std::string ascii;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < size) {
                std::snprintf(buf, sizeof buf, " %02x", data[i]);
                out += buf;
                ascii += (data[i] >= 0x20 && data[i] < 0x7f) ? static_cast<char>(data[i]) : '.';
            } else {
                out += "   ";
            }
        }
        out += "  |" + ascii + "|\n";
    }
    return out;
}

std::string hex_string(const std::uint8_t* data, std::size_t size) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        out += buf;
    }
    return out;
}

std::string mac_text(const unsigned char* mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return buf;
}

std::string number_text(double number) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, number);
    return std::string(buf, result.ptr);
}

std::string fixed_text(double number, int decimals) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, number);
    return buf;
}

std::string format_table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> width;
    for (const auto& row : rows) {
        if (width.size() < row.size()) width.resize(row.size(), 0);
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
        }
        out += line + '\n';
    }
    return out;
}

namespace {

// The descriptor the tool's own output goes to once the library's log lines
// were moved off standard output; -1 while they share it.
int own_output = -1;

void write_all(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // a closed reader: nothing left to tell it
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

void send_library_log_to_stderr() {
    if (own_output >= 0) return;
    // The library writes its log lines with puts: descriptor 1 becomes
    // standard error for good, and the tool keeps a copy of the real output.
    own_output = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (own_output < 0) return;
    dup2(STDERR_FILENO, STDOUT_FILENO);
    // Whole lines, so that they keep their place among the tool's warnings.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void print_text(const std::string& text) {
    if (own_output >= 0) {
        std::fflush(stdout); // log lines written so far come first on standard error
        write_all(own_output, text);
        return;
    }
    std::cout << text << std::flush;
}

void print_line(const std::string& line) { print_text(line + '\n'); }

// ------------------------------------------------------------------ errors

std::string gloss(int code) {
    if (code == WEXO_OK) return "no error code was left";
    if (code >= WEXO_ERR_SYSTEM_BASE) return std::string("system error: ") + wexo_strerror(code);
    return wexo_strerror(code);
}

void report_failure(const Failure& failure, bool json, bool japanese) {
    const bool library = !failure.call.empty();
    std::string line;
    if (json) {
        Json j;
        j.begin_object().key("error").begin_object();
        j.field("status", failure.status).field("text", failure.text);
        if (library) {
            j.field("call", failure.call)
                .field("code", failure.code)
                .field("message", gloss(failure.code))
                .field("japanese", failure.message);
        }
        j.end_object().end_object();
        line = j.text();
    } else {
        line = "wexo: " + failure.text;
        if (library) {
            line += ": " + failure.call + " failed with error " + std::to_string(failure.code) + ": ";
            // English by default; the library's own text on request.
            if (japanese && !failure.message.empty())
                line += failure.message + " (" + gloss(failure.code) + ")";
            else
                line += gloss(failure.code);
        }
    }
    std::cout << std::flush; // keep whatever was printed before the failure in order
    std::cerr << line << '\n';
    if (failure.status == exit_usage && !json)
        std::cerr << "Try 'wexo --help' or 'wexo <command> --help'.\n";
    std::cerr << std::flush;
}

void warn(const std::string& text) { std::cerr << "wexo: warning: " << text << '\n' << std::flush; }

} // namespace wexo::cli
