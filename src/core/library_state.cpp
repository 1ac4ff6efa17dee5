// Global state, start and end of the library, last-error messages, logging.
#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "core/call.hpp"
#include "core/state.hpp"

extern "C" {
wexo_device xportset[WEXO_MAX_DEVICES];
int32_t xportcount = 0;
int32_t xportsearchcount = 0;
int32_t initialized = 0;
uint32_t output_loglevel = 0;
int32_t auto_requestid = 0;
uint32_t auto_requestid_port = 0;
uint32_t g_lanaddr = 0;
int32_t g_fSet_addr = 0;
pthread_mutex_t mutex;
char logfile[260] = "ZuWexoLog.csv";
}

namespace wexo {
namespace {

constexpr int kDllVersion = 130;

// Indexed by code 0..13; returned as stored (UTF-8).
constexpr const char* kErrorMessages[] = {
    "",
    "初期化されていません。ZuWexoInitを実行してください。",
    "検索した結果、WEXOが発見できませんでした。",
    "検索で発見したWEXOより多い値を指定しました。",
    "指定された条件のWEXOを発見できませんでした。",
    "WEXOと接続していません。ZuWexoConnectを実行してください。",
    "指定された操作は実行できません。",
    "すでに接続しています。",
    "接続最大数を超過しました",
    "不正な戻り値が返りました。（設定した数値が異常である可能性があります）",
    "パラメータが誤っています。",
    "設定に失敗しました。",
    "再起動に失敗しました。",
    "ネットマスクの範囲外にWEXOがあります。",
};
constexpr uint32_t kMessageCount = sizeof(kErrorMessages) / sizeof(kErrorMessages[0]);

// Whether `mutex` currently holds an initialised mutex: a second Init must
// not initialise a live mutex again, and End must not destroy a dead one.
bool mutex_live = false;

// Start and end of the library against the calls that take `mutex`: End on
// one thread while a search or connect runs on another (shutdown) waits for
// it, so that it never destroys a mutex in use and the table it clears stays
// clear. Never destroyed, unlike `mutex`.
std::mutex lifecycle;
std::condition_variable idle;      // table_calls fell to 0
int table_calls = 0;               // admitted calls that have not left
bool ending = false;               // End has begun: admit nothing

}  // namespace

namespace {

void write_line(Deferred* deferred, unsigned level, const char* format, va_list args) {
    if ((level & output_loglevel) == 0) return;
    char line[4096];
    std::vsnprintf(line, sizeof(line), format, args);
    if (deferred != nullptr) {
        deferred->log.append(line).push_back('\n');  // printed in order by the caller's thread
        return;
    }
    std::puts(line);
}

}  // namespace

int Sink::log(unsigned level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    write_line(deferred_, level, format, args);
    va_end(args);
    return 1;
}

int output_log(unsigned level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(nullptr, level, format, args);
    va_end(args);
    return 1;
}

int result_line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(nullptr, kLogResult, format, args);
    va_end(args);
    return 1;
}

bool enter_table_call() {
    const std::lock_guard guard(lifecycle);
    if (initialized == 0 || ending || !mutex_live) return false;
    ++table_calls;
    return true;
}

void leave_table_call() {
    {
        const std::lock_guard guard(lifecycle);
        --table_calls;
    }
    idle.notify_all();
}

int check_initialized_index(int index, Sink sink) {
    sink.set_error(kOk);
    if (initialized == 0) {
        sink.set_error(kNotInitialized);
        return 0;
    }
    // Negative indices are caught here too, taken as unsigned.
    if (static_cast<unsigned>(index) > 255) {
        sink.set_error(kNotPossible);
        return 0;
    }
    return 1;
}

int check_common(int index, int need_connected, Sink sink) {
    if (!check_initialized_index(index, sink)) return 0;
    if (need_connected == 0) {
        if (index < record_count()) return 1;
        sink.set_error(kIndexRange);
        return 0;
    }
    const wexo_device& d = record(index);
    if (d.connected == 0) {
        sink.set_error(kNotConnected);
        return 0;
    }
    if (d.model_code == -1) {
        sink.set_error(kNotPossible);
        return 0;
    }
    return 1;
}

int end_library(void (*close_connected)(int index)) {
    std::unique_lock guard(lifecycle);
    ending = true;
    idle.wait(guard, [] { return table_calls == 0; });
    for (int i = 0; i < xportcount; ++i) {
        if (record(i).connected != 0) close_connected(i);
    }
    // A search that ran up to now left its count too: nothing is left.
    xportcount = 0;
    xportsearchcount = 0;
    initialized = 0;
    ending = false;
    result_line("ZuWexoEnd:%d", 1);
    if (mutex_live) {
        pthread_mutex_destroy(&mutex);
        mutex_live = false;
    }
    return 1;
}

void Sleep(int ms) {
    if (ms <= 0) return;
    timespec ts{};
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&ts, nullptr);
}

int closesocket(int fd) { return close(fd); }

}  // namespace wexo

using namespace wexo;

extern "C" WEXO_API int ZuWexoInit(void) {
    return api_call("ZuWexoInit", 0, [] {
        const std::lock_guard guard(lifecycle);
        xportcount = 0;
        xportsearchcount = 0;
        initialized = 1;
        auto_requestid = 1;
        auto_requestid_port = 10003;
        set_error(kOk);
        output_loglevel = 0;
        result_line("ZuWexoInit:%d", 1);
        if (!mutex_live) {
            pthread_mutex_init(&mutex, nullptr);
            mutex_live = true;
        }
        g_lanaddr = 0;
        g_fSet_addr = 0;
        return 1;
    });
}

extern "C" WEXO_API int ZuWexoGetLastError(void) {
    return api_call("ZuWexoGetLastError", 0, [] {
        result_line("ZuWexoGetLastError:%d", static_cast<int>(wexo_last_error));
        return static_cast<int>(wexo_last_error);
    });
}

extern "C" WEXO_API int ZuWexoGetLastErrorMessage(char* buffer) {
    return api_call("ZuWexoGetLastErrorMessage", 0, [&] {
        // Nowhere to write: the code stays for the caller to read.
        if (buffer == nullptr) return 0;
        const uint32_t code = wexo_last_error;
        if (code < WEXO_ERR_SYSTEM_BASE) {
            // Codes 14..9999 are never stored; an empty text is the safe answer.
            const char* text = code < kMessageCount ? kErrorMessages[code] : "";
            std::memcpy(buffer, text, std::strlen(text) + 1);
        } else {
            std::snprintf(buffer, 106, "err:%d", static_cast<int>(code));
        }
        return result_line("ZuWexoGetLastErrorMessage:%s", buffer);
    });
}

extern "C" WEXO_API int ZuWexoGetDllVersion(void) {
    return api_call("ZuWexoGetDllVersion", 0, [] {
        result_line("ZuWexoGetDllVersion:%d", kDllVersion);
        return kDllVersion;
    });
}

extern "C" WEXO_API int ZuWexoSetLogLevel(unsigned int mask) {
    return api_call("ZuWexoSetLogLevel", 0, [&] {
        output_loglevel = mask;
        return result_line("ZuWexoSetLogLevel:%d", static_cast<int>(mask));
    });
}

extern "C" WEXO_API int ZuWexoSetAutoRequestIdModel(int enable, unsigned int port) {
    return initialized_call("ZuWexoSetAutoRequestIdModel", 0, [&] {
        if (enable != 0) {
            auto_requestid_port = port;
            auto_requestid = 1;
        } else {
            auto_requestid = 0;
        }
        return result_line("ZuWexoSetAutoRequestIdModel:%d:%d", enable, static_cast<int>(port));
    });
}
