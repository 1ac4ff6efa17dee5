// Analog numbers: conversions done in double precision in exactly the order
// the boards' documentation gives, so that results are bit-identical to it.
#include <cmath>
#include <limits>

#include "analog/analog.hpp"

namespace wexo::analog {

namespace {

constexpr double kPositiveCounts = 8388607.0;  // largest 24-bit count
constexpr double kCountStep = 1.0 / 8388608.0;   // 2^-23
constexpr double kRawStep = 1.0 / 32768.0;       // 2^-15

// Full scale by range code; codes 4 and 5 divide by 8388607 for either
// sign, code 6 multiplies by 2^-23 for either sign.
constexpr double kFullScale[] = {0.1, 1.0, 10.0, 30.0, 20.0, 20.0, 3276.8};

}  // namespace

int32_t truncate_saturating(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

bool count_to_value(int32_t count, int range, double& value) {
    if (range < 0 || range > 6) return false;
    const double scale = kFullScale[range];
    const double c = count;
    if (range == 4 || range == 5) {
        value = c / kPositiveCounts * scale;
    } else if (range == 6 || count < 0) {
        value = c * kCountStep * scale;
    } else {
        value = c / kPositiveCounts * scale;
    }
    return true;
}

int32_t volts_to_raw(double volts) {
    const double x = volts / 10.0;
    return truncate_saturating(volts >= 0 ? std::fma(x, 32767.0, 0.5) : std::fma(x, 32768.0, -0.5));
}

int32_t milliamperes_to_raw(double milliamperes) {
    return truncate_saturating(std::fma(milliamperes / 20.0, 32767.0, 0.5));
}

double raw_to_value(int32_t raw, int mode) {
    const double r = raw;
    if (mode == 1) return r * 20.0 / 32767.0;
    const double tenfold = r * 10.0;
    return raw >= 0 ? tenfold / 32767.0 : tenfold * kRawStep;
}

bool output_request(char letter, int n, const int* channels, const int* modes, const int* raws,
                    Frame& frame) {
    frame = Frame::ascii('A', letter);
    for (int i = 0; i < n; ++i) {
        if (modes[i] != 0 && modes[i] != 1) return false;
        int32_t value = clamp16(raws[i]);
        if (modes[i] == 1 && value < 0) value = 0;  // a current cannot be negative
        frame.push(output_channel_byte(channels[i], modes[i]))
            .push_hex(static_cast<uint32_t>(value) & 0xFFFF, 4);
    }
    frame.terminate();
    return true;
}

}  // namespace wexo::analog
