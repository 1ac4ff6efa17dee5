// Timestamps as RFC 3339 text in UTC with milliseconds
// ("2026-12-09T04:12:33.127Z"), as the CLI's CSV rows and the gateway's
// payloads and audit log write them.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace wexo::text {

inline std::string rfc3339(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const auto seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

}  // namespace wexo::text
