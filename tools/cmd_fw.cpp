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
#include "unit_select.hpp"
#include "wexo.h"

namespace wexo::cli {

namespace {

struct HexFile {
    std::string path;
    std::string text;
    wexo_hex_summary summary{};
    bool loadable = false;
};

HexFile check_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail_usage("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    HexFile file{path, text.str(), {}, false};
    // The library reads up to the first NUL; a binary file would pass as short text.
    if (const auto nul = file.text.find('\0'); nul != std::string::npos) {
        const auto lines = std::count(file.text.begin(), file.text.begin() + static_cast<std::ptrdiff_t>(nul), '\n');
        file.summary.error_line = static_cast<int>(lines) + 1;
        return file;
    }
    file.loadable = wexo_check_intel_hex(file.text.c_str(), &file.summary) == 1;
    return file;
}

std::string hex4(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", static_cast<unsigned>(value));
    return buf;
}

// "1 block, 301 bytes, 0x0000..0x012c"
std::string contents_text(const wexo_hex_summary& s) {
    return std::to_string(s.blocks) + " block" + (s.blocks == 1 ? "" : "s") + ", " + std::to_string(s.bytes) +
           " byte" + (s.bytes == 1 ? "" : "s") + ", " + hex4(s.first_address) + ".." + hex4(s.last_address - 1);
}

// Why the file would be refused.
std::string refusal_text(const HexFile& file) {
    if (file.summary.error_line > 0)
        return file.path + ": line " + std::to_string(file.summary.error_line) +
               " is not a loadable record (bad digits, checksum or type, a block over 64 KiB, or the end record missing)";
    return file.path + ": holds no data to load";
}

void write_summary(Json& json, const HexFile& file) {
    const wexo_hex_summary& s = file.summary;
    json.field("file", file.path).field("valid", file.loadable);
    json.field("blocks", s.blocks).field("bytes", s.bytes);
    json.key("first_address");
    if (s.first_address >= 0) json.value(s.first_address); else json.null();
    json.field("last_address", s.last_address).key("error_line");
    if (s.error_line > 0) json.value(s.error_line); else json.null();
}

bool has_loader(int model) { return model == 0 || (model >= 3 && model <= 6); }

// ---------------------------------------------------------------- progress

struct Progress {
    bool bar = false;     // a terminal: one line redrawn
    bool lines = false;   // otherwise plain lines (none with --json)
    std::atomic<bool> cancel{false};
    int done = 0;
    int total = 0;
};

extern "C" int on_progress(int done, int total, void* user) {
    auto* p = static_cast<Progress*>(user);
    p->done = done;
    p->total = total;
    const int percent = total > 0 ? static_cast<int>(100LL * done / total) : 100;
    if (p->bar) {
        constexpr int width = 30;
        const int filled = percent * width / 100;
        std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << percent << "%  " << done << "/"
                  << total << " bytes" << (done == total ? "\n" : "") << std::flush;
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

// Runs the update on a thread of its own with SIGINT and SIGTERM held back,
// so that no library call is cut short; a signal sets the cancel flag, which
// the progress callback hands to the library between blocks. Returns the
// library's result and whether a signal came.
int run_update(int index, const std::string& text, Progress& progress, bool& signalled) {
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
    int result = 0, code = 0;
    std::thread worker([&] {
        result = wexo_pic_firmware_update_hex(index, text.c_str(), on_progress, &progress);
        code = ZuWexoGetLastError();
        const char byte = 1;
        while (write(done_write.fd, &byte, 1) < 0 && errno == EINTR) {}
    });
    signalled = false;
    for (;;) {
        pollfd p[2] = {{done_read.fd, POLLIN, 0}, {signals.fd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR) break;
        if (p[0].revents != 0) break;
        if (p[1].revents != 0) {
            signalfd_siginfo info{};
            if (read(signals.fd, &info, sizeof info) > 0 && !signalled) {
                signalled = true;
                progress.cancel = true;
                if (!progress.bar) std::cerr << "wexo: cancelling after the block under way\n" << std::flush;
            }
        }
    }
    worker.join();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return result;
}

} // namespace

int cmd_fw_check(Context& ctx) {
    check_arity(ctx.args, 1, 1, "fw check");
    const HexFile file = check_file(ctx.args.positional[0]);
    if (ctx.globals.json) {
        Json json;
        json.begin_object();
        write_summary(json, file);
        json.end_object();
        print_line(json.text());
    } else if (file.loadable) {
        print_line(file.path + ": loadable Intel HEX: " + contents_text(file.summary));
    } else {
        print_line(refusal_text(file));
    }
    return file.loadable ? exit_ok : exit_library;
}

int cmd_fw_update(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 1, 1, "fw update");
    const HexFile file = check_file(ctx.args.positional[0]);
    if (!file.loadable) fail_unit(refusal_text(file) + "; nothing was sent");
    const bool dry_run = ctx.args.has("dry-run");

    const Unit unit = open_unit(ctx, selector, true);
    const int model = unit_model(unit);
    if (!has_loader(model))
        fail_unit(unit.label + " (model " + std::to_string(model) +
                  ") has no firmware loader (models 0 and 3 to 6 have one); nothing was sent");

    Progress progress;
    progress.bar = !dry_run && isatty(STDERR_FILENO);
    progress.lines = !progress.bar && !ctx.globals.json;
    const auto start = std::chrono::steady_clock::now();
    bool signalled = false;
    if (!dry_run && run_update(unit.index, file.text, progress, signalled) != 1) {
        if (progress.bar && progress.done != progress.total) std::cerr << "\n";
        if (ZuWexoGetLastError() == WEXO_ERR_SYSTEM_BASE + ECANCELED)
            fail_unit("firmware update of " + unit.label + " cancelled after " + std::to_string(progress.done) +
                      " of " + std::to_string(progress.total) +
                      " bytes: the blocks sent are stored, the board's firmware is incomplete");
        fail_library("wexo_pic_firmware_update_hex",
                     "firmware update of " + unit.label + " failed after " + std::to_string(progress.done) + " of " +
                         std::to_string(file.summary.bytes) + " bytes");
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();

    if (ctx.globals.json) {
        Json json;
        json.begin_object().key("index");
        if (unit.listed) json.value(unit.index); else json.null();
        json.field("model", model).field("dry_run", dry_run);
        write_summary(json, file);
        json.field("written", dry_run ? 0 : file.summary.bytes).end_object();
        print_line(json.text());
    } else if (dry_run) {
        print_line("dry run: would write " + contents_text(file.summary) + " from " + file.path + " to " + unit.label +
                   " (model " + std::to_string(model) + "); nothing was sent");
    } else {
        print_line("wrote " + contents_text(file.summary) + " from " + file.path + " to " + unit.label + " (model " +
                   std::to_string(model) + ") in " + fixed_text(static_cast<double>(ms) / 1000.0, 1) + " s" +
                   (signalled ? "; the interrupt came after the last block" : ""));
    }
    return exit_ok;
}

} // namespace wexo::cli
