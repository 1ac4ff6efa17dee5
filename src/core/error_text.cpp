// English texts for the last-error codes, and the library's version.
#include <cstring>

#include "wexo.h"

namespace {

// Index = library code 0..13. Kept in step with the code macros of wexo.h.
constexpr const char* kEnglishMessages[] = {
    "no error",
    "library not initialised",
    "the search found no unit",
    "device index beyond the units found",
    "no unit matches, or the addressed unit did not answer",
    "the unit's command channel is not open",
    "operation not possible: not offered by this model, or a value out of range",
    "already connected, or a unit's configuration could not be read",
    "the device table is full",
    "unexpected or malformed reply from the unit",
    "bad parameter",
    "setting failed",
    "restart failed",
    "the unit is outside the netmask",
};
constexpr int kEnglishCount = static_cast<int>(sizeof(kEnglishMessages) / sizeof(kEnglishMessages[0]));

#define WEXO_STRINGIFY2(x) #x
#define WEXO_STRINGIFY(x) WEXO_STRINGIFY2(x)
constexpr const char kVersionText[] = WEXO_STRINGIFY(WEXO_VERSION_MAJOR) "." WEXO_STRINGIFY(
    WEXO_VERSION_MINOR) "." WEXO_STRINGIFY(WEXO_VERSION_PATCH);

}  // namespace

extern "C" WEXO_API const char* wexo_strerror(int code) {
    if (code >= 0 && code < kEnglishCount) return kEnglishMessages[code];
    if (code >= static_cast<int>(WEXO_ERR_SYSTEM_BASE)) {
        // The system's constant text, safe from any thread (strerror is not).
        const int number = code - static_cast<int>(WEXO_ERR_SYSTEM_BASE);
        const char* text = strerrordesc_np(number);
        if (text != nullptr) return text;
    }
    return "unknown error code";
}

extern "C" WEXO_API const char* wexo_version(void) { return kVersionText; }
