// wexo fw check / update: Intel HEX firmware for the unit's board.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "output.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

// One record of the file, as the library's reader walks it.
struct Record {
    int line = 0;
    std::size_t begin = 0, end = 0;  // its characters in the text
    int type = 0;
    int address = 0;
    std::vector<std::uint8_t> data;
};

// What the tool makes of a file before the library sees it: the data
// records, the records it removes (start addresses, extended addresses 0),
// and the first record the loader would refuse, with the reason.
struct Reading {
    std::vector<Record> data;
    std::vector<Record> removed;
    int bad_line = 0;
    std::string bad_record;
    std::string reason;
};

int digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string hex_byte(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", value & 0xFFu);
    return buf;
}

std::string hex4(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(value));
    return buf;
}

// Walks the records as the library does (CR and LF between them), with the
// reasons the library's code 6 leaves out.
Reading read_records(const std::string& text) {
    Reading r;
    int line = 1;
    std::size_t at = 0;
    std::vector<bool> given(0x10000);
    const auto refuse = [&](std::size_t begin, const std::string& reason) {
        std::size_t stop = begin;
        while (stop < text.size() && text[stop] != '\r' && text[stop] != '\n') ++stop;
        r.bad_line = line;
        r.bad_record = text.substr(begin, std::min<std::size_t>(stop - begin, 44));
        if (stop - begin > 44) r.bad_record += "...";
        r.reason = reason;
        return r;
    };
    const auto byte_at = [&](std::size_t pos, unsigned& value) {
        if (pos + 2 > text.size() || digit(text[pos]) < 0 || digit(text[pos + 1]) < 0) return false;
        value = static_cast<unsigned>(digit(text[pos]) * 16 + digit(text[pos + 1]));
        return true;
    };
    for (;;) {
        while (at < text.size() && (text[at] == '\r' || text[at] == '\n')) {
            if (text[at] == '\n') ++line;
            ++at;
        }
        if (at >= text.size()) return refuse(at, "missing end record: the file ends before a record of type 01");
        const std::size_t begin = at;
        if (text[at] != ':') return refuse(begin, "not a record: it does not start with ':'");
        unsigned head[4] = {};
        for (int i = 0; i < 4; ++i)
            if (!byte_at(at + 1 + 2 * static_cast<std::size_t>(i), head[i]))
                return refuse(begin, "length: the record is cut short or holds a character that is no hex digit");
        Record rec{line, begin, 0, static_cast<int>(head[3]), static_cast<int>(head[1] << 8 | head[2]), {}};
        unsigned sum = head[0] + head[1] + head[2] + head[3];
        at += 9;
        for (unsigned i = 0; i <= head[0]; ++i, at += 2) {  // the data, then the checksum
            unsigned value = 0;
            if (!byte_at(at, value))
                return refuse(begin, "length: the byte count says " + std::to_string(head[0]) +
                                         " data bytes, but the record is shorter or holds a character that is no hex digit");
            sum += value;
            if (i < head[0]) rec.data.push_back(static_cast<std::uint8_t>(value));
        }
        rec.end = at;
        if (at < text.size() && text[at] != '\r' && text[at] != '\n' && text[at] != ':')
            return refuse(begin, "length: the byte count says " + std::to_string(head[0]) +
                                     " data bytes, but the record holds more characters");
        if ((sum & 0xFF) != 0)
            return refuse(begin, "checksum: the record's bytes sum to 0x" + hex_byte(sum) + ", not 0x00");
        const bool upper_zero = rec.type == 4 && rec.data.size() == 2 && rec.data[0] == 0 && rec.data[1] == 0;
        if (rec.type == 3 || rec.type == 5 || upper_zero) {
            r.removed.push_back(std::move(rec));
            continue;
        }
        if (rec.type == 4)
            return refuse(begin, "size beyond 64 KiB: an extended address moves the data above 0xFFFF");
        if (rec.type > 1)
            return refuse(begin, "type: record type " + hex_byte(static_cast<unsigned>(rec.type)) +
                                     " is not taken (only 00 data and 01 end of file)");
        if (rec.address + static_cast<int>(rec.data.size()) > 0x10000)
            return refuse(begin, "size beyond 64 KiB: the data runs past address 0xFFFF");
        for (std::size_t i = 0; i < rec.data.size(); ++i) {
            const auto a = static_cast<std::size_t>(rec.address) + i;
            if (given[a]) return refuse(begin, "overlap: address " + hex4(static_cast<int>(a)) + " was given before");
            given[a] = true;
        }
        const bool end = rec.type == 1;
        if (!rec.data.empty()) r.data.push_back(std::move(rec));
        if (end) return r;
    }
}

struct HexFile {
    std::string path;
    std::string text;   // what goes to the library
    HexSummary summary{};
    bool loadable = false;
    Reading reading;
    int gap_fill = -1;  // the fill byte when the blocks were joined
};

// Intel HEX of one block: 16-byte data records from address, the end
// record at 0 as tool chains write it.
std::string one_block_hex(int address, const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        const std::size_t n = std::min<std::size_t>(16, bytes.size() - i);
        const unsigned a = static_cast<unsigned>(address) + static_cast<unsigned>(i);
        unsigned sum = static_cast<unsigned>(n) + (a >> 8) + a;
        text += ":" + hex_byte(static_cast<unsigned>(n)) + hex_byte(a >> 8) + hex_byte(a) + "00";
        for (std::size_t k = 0; k < n; ++k) {
            sum += bytes[i + k];
            text += hex_byte(bytes[i + k]);
        }
        text += hex_byte(0x100 - (sum & 0xFF)) + "\n";
    }
    return text + ":00000001FF\n";
}

// Reads and checks the file; gap_fill (0..255, or -1) joins its blocks.
HexFile check_file(const std::string& path, int gap_fill = -1) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail_usage("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    HexFile file{path, text.str(), {}, false, {}, -1};
    // The library reads up to the first NUL; a binary file would pass as short text.
    if (const auto nul = file.text.find('\0'); nul != std::string::npos) {
        const auto lines = std::count(file.text.begin(), file.text.begin() + static_cast<std::ptrdiff_t>(nul), '\n');
        file.summary.error_line = static_cast<int>(lines) + 1;
        file.reading.bad_line = file.summary.error_line;
        file.reading.reason = "not text: a NUL byte";
        return file;
    }
    file.reading = read_records(file.text);
    // Removed records leave their line ends, so that line numbers still hold.
    for (auto it = file.reading.removed.rbegin(); it != file.reading.removed.rend(); ++it)
        file.text.erase(it->begin, it->end - it->begin);
    file.summary = check_intel_hex(file.text);
    file.loadable = file.summary.loadable;
    if (file.loadable && file.summary.blocks > 1 && gap_fill >= 0) {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(file.summary.last_address - file.summary.first_address),
                                        static_cast<std::uint8_t>(gap_fill));
        for (const Record& r : file.reading.data)
            std::copy(r.data.begin(), r.data.end(), image.begin() + (r.address - file.summary.first_address));
        file.text = one_block_hex(file.summary.first_address, image);
        file.gap_fill = gap_fill;
        file.summary = check_intel_hex(file.text);
        file.loadable = file.summary.loadable;
    }
    return file;
}

// "1 block, 301 bytes, 0x0000..0x012c"
std::string contents_text(const HexSummary& s) {
    return std::to_string(s.blocks) + " block" + (s.blocks == 1 ? "" : "s") + ", " + std::to_string(s.bytes) +
           " byte" + (s.bytes == 1 ? "" : "s") + ", " + hex4(s.first_address) + ".." + hex4(s.last_address - 1);
}

// Why the file would be refused.
std::string refusal_text(const HexFile& file) {
    const Reading& r = file.reading;
    if (r.bad_line > 0) {
        return file.path + ": line " + std::to_string(r.bad_line) +
               (r.bad_record.empty() ? "" : " (" + r.bad_record + ")") + ": " + r.reason;
    }
    if (file.summary.error_line > 0)
        return file.path + ": line " + std::to_string(file.summary.error_line) + " is not a loadable record";
    return file.path + ": holds no data to load";
}

// The ranges of the file's blocks, as the library gathers them.
std::string block_ranges(const Reading& r) {
    std::string text;
    int start = -1, next = -1;
    const auto close = [&] {
        if (start >= 0) text += (text.empty() ? "" : ", ") + hex4(start) + ".." + hex4(next - 1);
    };
    for (const Record& rec : r.data) {
        if (rec.address != next) {
            close();
            start = rec.address;
        }
        next = rec.address + static_cast<int>(rec.data.size());
    }
    close();
    return text;
}

// The loader takes no addresses: each block would land where the first did.
std::string blocks_text(const HexFile& file) {
    return file.path + " holds " + std::to_string(file.summary.blocks) + " blocks (" + block_ranges(file.reading) +
           "), but the loader takes no addresses: every block is written from the same place, and only the last "
           "would stay. --gap-fill BYTE sends one block from " + hex4(file.summary.first_address) + " to " +
           hex4(file.summary.last_address - 1) + " with the gaps filled (as objcopy --gap-fill does)";
}

// Says which records were left out.
void note_removed(const HexFile& file) {
    int start = 0, extended = 0;
    for (const Record& r : file.reading.removed) (r.type == 4 ? extended : start) += 1;
    if (start + extended == 0) return;
    std::string text = "wexo: " + file.path + ": removed ";
    if (start > 0) text += std::to_string(start) + " start-address record" + (start == 1 ? "" : "s") + " (type 03/05)";
    if (start > 0 && extended > 0) text += " and ";
    if (extended > 0)
        text += std::to_string(extended) + " extended-address record" + (extended == 1 ? "" : "s") +
                " of upper address 0 (type 04)";
    std::cerr << text << ", which the loader does not take\n";
}

void write_summary(Json& json, const HexFile& file) {
    const HexSummary& s = file.summary;
    json.field("file", file.path).field("valid", file.loadable);
    json.field("blocks", s.blocks).field("bytes", s.bytes);
    json.key("first_address");
    if (s.first_address >= 0) json.value(s.first_address); else json.null();
    json.field("last_address", s.last_address).key("error_line");
    const int bad = file.reading.bad_line > 0 ? file.reading.bad_line : s.error_line;
    if (bad > 0) json.value(bad); else json.null();
    if (!file.loadable && !file.reading.reason.empty()) json.field("reason", file.reading.reason);
    json.field("removed_records", static_cast<int>(file.reading.removed.size()));
}

bool has_loader(int model) { return model == 0 || (model >= 3 && model <= 6); }

// ---------------------------------------------------------------- progress

using Clock = std::chrono::steady_clock;

// A redrawn bar on a terminal at least ten times a second; plain lines at
// most once a second otherwise (none with --json). The library reports after
// every two-byte item, so the drawing is paced here.
struct Progress {
    bool bar = false;
    bool lines = false;
    std::atomic<bool> cancel{false};
    std::atomic<int> done{0};
    int total = 0;
    bool finished = false;
    Clock::time_point start = Clock::now();
    Clock::time_point drawn{};
};

constexpr auto kBarEvery = std::chrono::milliseconds(50);
constexpr auto kLineEvery = std::chrono::seconds(1);

extern "C" int on_progress(int done, int total, void* user) {
    auto* p = static_cast<Progress*>(user);
    p->done = done;
    p->total = total;
    const auto now = Clock::now();
    const bool last = done == total && !p->finished;
    if (last) p->finished = true;
    if (!last && now - p->drawn < (p->bar ? kBarEvery : kLineEvery)) return p->cancel ? 1 : 0;
    p->drawn = now;
    const int percent = total > 0 ? static_cast<int>(100LL * done / total) : 100;
    if (p->bar) {
        constexpr int width = 30;
        const int filled = percent * width / 100;
        const double seconds = std::chrono::duration<double>(now - p->start).count();
        const double rate = seconds > 0 ? done / 1024.0 / seconds : 0;
        std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << percent << "%  " << done << "/"
                  << total << " bytes  " << fixed_text(rate, 1) << " KiB/s " << (last ? "\n" : "") << std::flush;
    } else if (p->lines) {
        std::cerr << "progress " << done << "/" << total << " bytes (" << percent << "%)\n" << std::flush;
    }
    return p->cancel ? 1 : 0;
}

// Owns one descriptor.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// How long an interrupted update may take to stop.
constexpr int kStopWithinMs = 80;

// What the unit may hold after an interrupted update.
std::string interrupted_text(const std::string& label, int done, int total, bool waiting) {
    const std::string head = "firmware update of " + label + " interrupted after ";
    // All items out: the commit, or the end record's empty transfer, was due.
    if (done == total)
        return head + "all " + std::to_string(total) +
               " bytes were sent, while the update was finishing: the image may not have been committed, and the "
               "closing empty transfer was not made. Restart the unit, then run the update again before using it";
    return head + std::to_string(done) + " of " + std::to_string(total) + " bytes" +
           (waiting ? ", while the unit had not yet answered" : "") +
           ": nothing more was sent, and the block under way got no commit byte. The unit's loader may still "
           "wait for the rest of the block and its old firmware may be partly overwritten: restart the unit, "
           "then run the update again before using it";
}

// Runs the update on a thread of its own with SIGINT and SIGTERM held back,
// so that no library call is cut short; a signal sets the cancel flag, which
// the progress callback hands to the library after the item under way. A
// library call that waits for the unit past kStopWithinMs is not waited
// for: the process ends there, before the commit byte could go out.
// Returns the update's error code, empty when it succeeded.
std::error_code run_update(const Unit& unit, const std::string& text, Progress& progress, bool& signalled) {
    const std::string& label = unit.label;
    sigset_t stop, old;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &old);
    const Descriptor signals(signalfd(-1, &stop, SFD_CLOEXEC));
    int done_pipe[2] = {-1, -1};
    if (signals.fd < 0 || pipe2(done_pipe, O_CLOEXEC) != 0) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        fail_unit(std::string("cannot watch for signals: ") + std::strerror(errno));
    }
    const Descriptor done_read(done_pipe[0]), done_write(done_pipe[1]);
    std::error_code result;
    std::thread worker([&] {
        result = api(unit)->update_firmware(text, [&](int done, int total) {
            return on_progress(done, total, &progress) == 0;
        }).error();
        const char byte = 1;
        while (write(done_write.fd, &byte, 1) < 0 && errno == EINTR) {}
    });
    signalled = false;
    int wait_ms = -1;
    for (;;) {
        pollfd p[2] = {{done_read.fd, POLLIN, 0}, {signals.fd, POLLIN, 0}};
        const int ready = poll(p, 2, wait_ms);
        if (ready < 0 && errno != EINTR) break;
        if (ready == 0) {
            // Still inside the library, waiting for the unit.
            if (progress.bar) std::cerr << "\n";
            std::cerr << "wexo: " << interrupted_text(label, progress.done, progress.total, true) << "\n" << std::flush;
            _exit(exit_library);
        }
        if (p[0].revents != 0) break;
        if (p[1].revents != 0) {
            signalfd_siginfo info{};
            if (read(signals.fd, &info, sizeof info) > 0 && !signalled) {
                signalled = true;
                progress.cancel = true;
                wait_ms = kStopWithinMs;
            }
        }
    }
    worker.join();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return result;
}

// --gap-fill BYTE, or -1.
int gap_fill_of(const Context& ctx) {
    const std::string* fill = ctx.args.value("gap-fill");
    return fill == nullptr ? -1 : static_cast<int>(parse_number(*fill, "--gap-fill", 0, 255));
}

} // namespace

static int cmd_fw_check(Context& ctx) {
    check_arity(ctx.args, 1, 1, "fw check");
    const HexFile file = check_file(ctx.args.positional[0], gap_fill_of(ctx));
    note_removed(file);
    if (ctx.globals.json) {
        Json json;
        json.begin_object();
        write_summary(json, file);
        json.end_object();
        print_line(json.text());
    } else if (file.loadable) {
        print_line(file.path + ": loadable Intel HEX: " + contents_text(file.summary) +
                   (file.gap_fill >= 0 ? " with the gaps filled with 0x" + hex_byte(static_cast<unsigned>(file.gap_fill)) : ""));
        if (file.summary.blocks > 1) print_line("note: " + blocks_text(file));
    } else {
        print_line(refusal_text(file));
    }
    return file.loadable ? exit_ok : exit_library;
}

static int cmd_fw_update(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 1, 1, "fw update");
    const HexFile file = check_file(ctx.args.positional[0], gap_fill_of(ctx));
    note_removed(file);
    if (!file.loadable) fail_unit(refusal_text(file) + "; nothing was sent");
    if (file.summary.blocks > 1) fail_unit(blocks_text(file) + "; nothing was sent");
    const bool dry_run = ctx.args.has("dry-run");

    const Unit unit = open_unit(ctx, selector, true);
    const int model = unit_model(unit);
    if (!has_loader(model))
        fail_unit(unit.label + " (model " + std::to_string(model) +
                  ") has no firmware loader (models 0 and 3 to 6 have one); nothing was sent");

    Progress progress;
    progress.bar = !dry_run && isatty(STDERR_FILENO);
    progress.lines = !progress.bar && !ctx.globals.json;
    progress.total = file.summary.bytes;
    const auto start = Clock::now();
    progress.start = progress.drawn = start;
    bool signalled = false;
    if (const std::error_code failed = dry_run ? std::error_code{} : run_update(unit, file.text, progress, signalled)) {
        if (progress.bar && !progress.finished) std::cerr << "\n";
        if (failed == errc::cancelled) fail_unit(interrupted_text(unit.label, progress.done, progress.total, false));
        fail_library(failed, "wexo_pic_firmware_update_hex",
                     "firmware update of " + unit.label + " failed after " + std::to_string(progress.done) + " of " +
                         std::to_string(file.summary.bytes) + " bytes");
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const std::string filled =
        file.gap_fill >= 0 ? " (gaps filled with 0x" + hex_byte(static_cast<unsigned>(file.gap_fill)) + ")" : "";

    if (ctx.globals.json) {
        Json json;
        json.begin_object().key("index");
        if (unit.listed) json.value(unit.index); else json.null();
        json.field("model", model).field("dry_run", dry_run);
        write_summary(json, file);
        json.key("gap_fill");
        if (file.gap_fill >= 0) json.value(file.gap_fill); else json.null();
        json.field("written", dry_run ? 0 : file.summary.bytes).end_object();
        print_line(json.text());
    } else if (dry_run) {
        print_line("dry run: would write " + contents_text(file.summary) + filled + " from " + file.path + " to " +
                   unit.label + " (model " + std::to_string(model) + "); nothing was sent");
    } else {
        print_line("wrote " + contents_text(file.summary) + filled + " from " + file.path + " to " + unit.label +
                   " (model " + std::to_string(model) + ") in " + fixed_text(static_cast<double>(ms) / 1000.0, 1) +
                   " s" + (signalled ? "; the interrupt came after the last item" : ""));
    }
    return exit_ok;
}

void register_fw(Registry& registry) {
    registry.option({"dry-run", nullptr, "fw update: check, connect and report; send nothing"});
    registry.option({"gap-fill", "BYTE", "fw: join the file's blocks into one, the gaps filled with BYTE"});
    registry.add(
        {"fw check", "FILE.hex [--gap-fill BYTE]", "check an Intel HEX firmware file",
         "Checks the file as the firmware update would (wexo_check_intel_hex) and prints its\n"
         "blocks, bytes and address range, or the first bad line with its record and the reason\n"
         "(exit status 1). Start-address records (type 03, 05) and extended-address records of\n"
         "upper address 0 (type 04) are removed first, and a note says so.",
         {"gap-fill"}, false, cmd_fw_check});
    registry.add(
        {"fw update", "UNIT FILE.hex [--gap-fill BYTE] [--dry-run]", "load firmware into the unit's board",
         "Checks the file, connects the unit (models 0 and 3 to 6 have the loader) and writes the\n"
         "image, with a progress bar on a terminal and progress lines on standard error\n"
         "otherwise. The loader takes no addresses, so a file of more than one block is refused;\n"
         "--gap-fill BYTE joins the blocks into one, from the lowest to the highest address, the\n"
         "gaps filled with BYTE. --dry-run stops before the first byte of firmware is sent.\n"
         "SIGINT or SIGTERM stops the update within 100 ms, also in the middle of a block, whose\n"
         "commit byte is then never sent (exit status 1).",
         {"dry-run", "gap-fill"}, true, cmd_fw_update});
}

} // namespace wexo::cli
