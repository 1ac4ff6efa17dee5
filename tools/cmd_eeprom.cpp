// wexo eeprom: dump, read and write the board's EEPROM, and back it up to a
// file or restore it from one. Every byte is one exchange with the board, so
// the whole EEPROM takes thousands; a terminal shows the progress.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include "board_features.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

constexpr int eeprom_size = 4096;
// Bytes per library call: progress is updated this often.
constexpr int chunk = 64;

using Bytes = std::vector<std::uint8_t>;

std::string address_text(int address) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%03x", address);
    return buf;
}

std::string bytes_text(const std::uint8_t* data, std::size_t size) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", data[i]);
        out += buf;
    }
    return out;
}

// Progress goes to standard error, and only when that is a terminal.
class Progress {
public:
    Progress(const char* what, int total) : what_(what), total_(total), shown_(total >= 2 * chunk && isatty(STDERR_FILENO)) {}
    ~Progress() {
        if (shown_) std::fputs("\r\033[K", stderr);
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void update(int done) const {
        if (shown_) std::fprintf(stderr, "\r%s %d/%d bytes", what_, done, total_);
    }

private:
    const char* what_;
    int total_;
    bool shown_;
};

Bytes read_bytes(const Unit& unit, int address, int length, const char* what = "reading EEPROM") {
    Bytes data(static_cast<std::size_t>(length));
    const Progress progress(what, length);
    for (int done = 0; done < length; done += chunk) {
        progress.update(done);
        const int n = std::min(chunk, length - done);
        const Bytes part = checked(api(unit)->read_eeprom(address + done, static_cast<std::size_t>(n)),
                                   "ZuWexoReadEEPROM",
                                   "cannot read EEPROM bytes " + address_text(address + done) + ".." +
                                       address_text(address + done + n - 1) + " of " + unit.label);
        std::copy(part.begin(), part.end(), data.begin() + done);
    }
    return data;
}

// Consecutive bytes that differ from what the unit holds.
struct Run {
    int address;
    Bytes old_bytes;
    Bytes new_bytes;
};

struct WriteResult {
    std::vector<Run> runs;
    int written = 0;
};

// Writes only the bytes of `wanted` that differ from the unit's, then reads
// them back; a mismatch is reported per byte and ends the command.
WriteResult write_changed(const Unit& unit, int address, const Bytes& wanted) {
    const int length = static_cast<int>(wanted.size());
    const Bytes now = read_bytes(unit, address, length);
    WriteResult result;
    for (int i = 0; i < length; ++i) {
        if (now[static_cast<std::size_t>(i)] == wanted[static_cast<std::size_t>(i)]) continue;
        // A run is cut at 16 bytes to keep the report's lines short.
        if (result.runs.empty() || result.runs.back().address + static_cast<int>(result.runs.back().new_bytes.size()) != address + i ||
            result.runs.back().new_bytes.size() == 16)
            result.runs.push_back({address + i, {}, {}});
        result.runs.back().old_bytes.push_back(now[static_cast<std::size_t>(i)]);
        result.runs.back().new_bytes.push_back(wanted[static_cast<std::size_t>(i)]);
        ++result.written;
    }
    int mismatches = 0;
    for (const Run& run : result.runs) {
        const int n = static_cast<int>(run.new_bytes.size());
        checked(api(unit)->write_eeprom(run.address, run.new_bytes), "ZuWexoWriteEEPROM",
                "cannot write EEPROM bytes " + address_text(run.address) + ".." + address_text(run.address + n - 1) +
                    " of " + unit.label);
        const Bytes back = read_bytes(unit, run.address, n);
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            if (back[k] == run.new_bytes[k]) continue;
            char buf[64];
            std::snprintf(buf, sizeof buf, "mismatch at %s: wrote %02x, the unit holds %02x",
                          address_text(run.address + i).c_str(), run.new_bytes[k], back[k]);
            warn(buf);
            ++mismatches;
        }
    }
    if (mismatches)
        fail_unit(std::to_string(mismatches) + " EEPROM byte(s) of " + unit.label + " differ from what was written");
    return result;
}

void print_write(const WriteResult& result, int total, const std::string& done, bool json) {
    if (json) {
        Json j;
        j.begin_object().field("written", result.written).field("compared", total).field("verified", true);
        j.key("changes").begin_array();
        for (const Run& run : result.runs)
            j.begin_object().field("address", run.address)
                .field("old", hex_string(run.old_bytes.data(), run.old_bytes.size()))
                .field("new", hex_string(run.new_bytes.data(), run.new_bytes.size())).end_object();
        print_line(j.end_array().end_object().text());
        return;
    }
    for (const Run& run : result.runs)
        print_line(change_line({address_text(run.address), bytes_text(run.old_bytes.data(), run.old_bytes.size()),
                                bytes_text(run.new_bytes.data(), run.new_bytes.size())}));
    const int same = total - result.written;
    print_line(done + ": wrote " + std::to_string(result.written) + " of " + std::to_string(total) + " bytes" +
               (same ? " (" + std::to_string(same) + " already matched)" : std::string()) + ", read back and verified");
}

// xxd's layout, so that `xxd -r` turns a dump back into bytes.
std::string xxd_dump(int address, const Bytes& data) {
    std::string out;
    char buf[16];
    for (std::size_t line = 0; line < data.size(); line += 16) {
        std::snprintf(buf, sizeof buf, "%08zx: ", static_cast<std::size_t>(address) + line);
        out += buf;
        std::string ascii;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < data.size()) {
                std::snprintf(buf, sizeof buf, "%02x", data[i]);
                out += buf;
                ascii += (data[i] >= 0x20 && data[i] < 0x7f) ? static_cast<char>(data[i]) : '.';
            } else {
                out += "  ";
            }
            if ((i - line) % 2 == 1) out += ' ';
        }
        out += " " + ascii + "\n";
    }
    return out;
}

void print_bytes(int address, const Bytes& data, bool json, bool dump) {
    if (json) {
        Json j;
        j.begin_object().field("address", address).field("length", static_cast<long long>(data.size()));
        print_line(j.field("hex", hex_string(data.data(), data.size())).end_object().text());
    } else if (dump) {
        print_text(xxd_dump(address, data));
    } else {
        print_line(bytes_text(data.data(), data.size()));
    }
}

int parse_address(const std::string& text) {
    return static_cast<int>(parse_number(text, "ADDR", 0, eeprom_size - 1));
}

int parse_length(const std::string& text, int address) {
    return static_cast<int>(parse_number(text, "LEN", 1, eeprom_size - address));
}

Bytes read_image(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail_usage("restore: cannot open '" + path + "'");
    Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.size() != eeprom_size)
        fail_usage("restore: '" + path + "' holds " + std::to_string(image.size()) + " bytes, not " +
                   std::to_string(eeprom_size));
    return image;
}

// The backup file, opened before the 4096 reads so that a path that cannot
// be written is refused at once. A failed run leaves no half-written backup
// behind under the file's name: the bytes go to NAME.part, renamed at the end.
class BackupFile {
public:
    explicit BackupFile(const std::string& path) : path_(path), temporary_(path + ".part") {
        struct stat st{};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            fail_usage("backup: '" + path + "' is a directory");
        out_.open(temporary_, std::ios::binary | std::ios::trunc);
        if (!out_) fail_usage("backup: cannot write '" + temporary_ + "': " + std::strerror(errno));
    }
    ~BackupFile() {
        if (!done_) {
            out_.close();
            std::remove(temporary_.c_str());
        }
    }
    BackupFile(const BackupFile&) = delete;
    BackupFile& operator=(const BackupFile&) = delete;

    void save(const Bytes& image) {
        out_.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out_.flush()) fail_unit("backup: cannot write '" + temporary_ + "'");
        out_.close();
        if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
            fail_unit("backup: cannot rename '" + temporary_ + "' to '" + path_ + "'");
        done_ = true;
    }

private:
    std::string path_;
    std::string temporary_;
    std::ofstream out_;
    bool done_ = false;
};

} // namespace

static int cmd_eeprom(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    auto& words = ctx.args.positional;
    const std::string action = words.empty() ? "dump" : words[0];
    if (!words.empty()) words.erase(words.begin());
    // Everything on the command line is checked before the unit is reached.
    int address = 0, length = eeprom_size;
    Bytes data;
    std::string path;
    std::optional<BackupFile> backup;
    if (action == "dump" || action == "read") {
        check_arity(ctx.args, 0, 2, "eeprom " + action);
        if (action == "read" && words.empty()) fail_usage("eeprom read: missing ADDR");
        if (!words.empty()) address = parse_address(words[0]);
        length = words.size() == 2 ? parse_length(words[1], address) : action == "read" ? 1 : eeprom_size - address;
    } else if (action == "write") {
        if (words.size() < 2) fail_usage("eeprom write: needs ADDR HEXBYTES...");
        address = parse_address(words[0]);
        data = parse_hex_bytes({words.begin() + 1, words.end()}, "eeprom write");
        if (data.empty() || address + static_cast<int>(data.size()) > eeprom_size)
            fail_usage("eeprom write: " + std::to_string(data.size()) + " byte(s) from " + address_text(address) +
                       " do not fit in the " + std::to_string(eeprom_size) + " bytes");
    } else if (action == "backup" || action == "restore") {
        check_arity(ctx.args, 1, 1, "eeprom " + action);
        path = words[0];
        if (action == "restore") data = read_image(path);
        else backup.emplace(path);
    } else {
        fail_usage("eeprom: '" + action + "' is not dump, read, write, backup or restore");
    }

    const Unit unit = open_unit(ctx, selector, true);
    require_eeprom(unit, board_row(unit));
    const bool json = ctx.globals.json;
    if (action == "dump" || action == "read") {
        print_bytes(address, read_bytes(unit, address, length), json, action == "dump");
    } else if (action == "write") {
        print_write(write_changed(unit, address, data), static_cast<int>(data.size()),
                    "EEPROM of " + unit.label, json);
    } else if (action == "backup") {
        backup->save(read_bytes(unit, 0, eeprom_size, "backing up EEPROM"));
        if (json) {
            Json j;
            print_line(j.begin_object().field("file", path).field("bytes", eeprom_size).end_object().text());
        } else {
            print_line("saved the " + std::to_string(eeprom_size) + " EEPROM bytes of " + unit.label + " to " + path);
        }
    } else {
        print_write(write_changed(unit, 0, data), eeprom_size, "restored " + path + " to " + unit.label, json);
    }
    return exit_ok;
}

void register_eeprom(Registry& registry) {
    registry.add(
        {"eeprom", "UNIT [dump [ADDR [LEN]]]\nUNIT read ADDR [LEN]\nUNIT write ADDR HEXBYTES...\n"
                   "UNIT backup FILE\nUNIT restore FILE",
         "dump, read, write, back up or restore the board's EEPROM",
         "The 4096 EEPROM bytes of models 17, 21, 22, 25, 26 and 40 to 44. 'dump' prints them as xxd\n"
         "does (from ADDR, default 0; LEN bytes, default to the end), 'read' as plain hex bytes (LEN\n"
         "default 1). 'write' and 'restore' write only the bytes that differ from the unit's, read\n"
         "them back to verify, and list every change as 'old -> new'. 'backup' saves all 4096 bytes\n"
         "to a raw file, 'restore' writes such a file back. Each byte is one exchange with the\n"
         "board; a terminal shows the progress.",
         {}, true, cmd_eeprom});
}

} // namespace wexo::cli
