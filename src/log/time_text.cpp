#include "log/time_text.h"

#include <cstdio>
#include <cstring>

namespace vantrel {

namespace {

// value with at least `digits` digits, as %0<digits>d prints it; false (nothing written)
// for a value the fast way does not cover.
bool PutDigits(char*& out, int value, int digits) {
    if (value < 0) return false;
    char reversed[16];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count < digits) reversed[count++] = '0';
    while (count > 0) *out++ = reversed[--count];
    return true;
}

}  // namespace

size_t FormatClockTime(char* out, const platform::SystemTime& time) {
    char* at = out;
    if (PutDigits(at, time.hour, 2) && (*at++ = ':') && PutDigits(at, time.minute, 2) &&
        (*at++ = ':') && PutDigits(at, time.second, 2) && (*at++ = ':') &&
        PutDigits(at, time.milliseconds, 3)) {
        return static_cast<size_t>(at - out);
    }
    // A negative field (never from a real clock): as printf writes it.
    const int written = std::snprintf(out, 48, "%02d:%02d:%02d:%03d", time.hour, time.minute,
                                      time.second, time.milliseconds);
    return written < 0 ? 0 : (written < 48 ? static_cast<size_t>(written) : 47);
}

size_t FormatLogTimeLine(char* out, const platform::SystemTime& time) {
    static constexpr char kLabel[] = "Log Time: ";
    char* at = out;
    std::memcpy(at, kLabel, sizeof kLabel - 1);
    at += sizeof kLabel - 1;
    if (PutDigits(at, time.year, 4) && (*at++ = '/') && PutDigits(at, time.month, 2) &&
        (*at++ = '/') && PutDigits(at, time.day, 2) && (*at++ = ' ')) {
        at += FormatClockTime(at, time);
        *at++ = '\r';
        *at++ = '\n';
        return static_cast<size_t>(at - out);
    }
    const int written =
        std::snprintf(out, 96, "Log Time: %04d/%02d/%02d %02d:%02d:%02d:%03d\r\n", time.year,
                      time.month, time.day, time.hour, time.minute, time.second, time.milliseconds);
    return written < 0 ? 0 : (written < 96 ? static_cast<size_t>(written) : 95);
}

}  // namespace vantrel
