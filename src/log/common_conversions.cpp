#include "log/common_conversions.h"

#include <cstdint>
#include <cstring>

namespace vantrel {

namespace {

enum class Length { Int, Long };

// The digits of value, written backwards from end; returns where they start. The bases are
// constants, so no division instruction is needed; two digits a step halve the steps.
char* Decimal(unsigned long long value, char* end) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    while (value >= 100) {
        const unsigned pair = static_cast<unsigned>(value % 100) * 2;
        value /= 100;
        *--end = kPairs[pair + 1];
        *--end = kPairs[pair];
    }
    if (value >= 10) {
        const unsigned pair = static_cast<unsigned>(value) * 2;
        *--end = kPairs[pair + 1];
        *--end = kPairs[pair];
    } else {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

// The next '%' or the terminating NUL.
const char* NextConversion(const char* format) {
#if defined(__GLIBC__)
    return strchrnul(format, '%');  // scans a vector of bytes a step
#else
    while (*format != '%' && *format != '\0') ++format;
    return format;
#endif
}

char* Hexadecimal(unsigned long long value, const char* digits, char* end) {
    do {
        *--end = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    return end;
}

unsigned long long UnsignedArgument(Length length, va_list* args) {
    switch (length) {
        case Length::Long:
            return va_arg(*args, unsigned long);
        case Length::Int:
            break;
    }
    return va_arg(*args, unsigned int);
}

long long SignedArgument(Length length, va_list* args) {
    switch (length) {
        case Length::Long:
            return va_arg(*args, long);
        case Length::Int:
            break;
    }
    return va_arg(*args, int);
}

// Copies count bytes. An entry's pieces are mostly short, and a piece of up to 16 bytes goes in
// two overlapping moves instead of a call.
inline void CopyPiece(char* to, const char* from, size_t count) {
    if (count >= 8 && count <= 16) {
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + count - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + count - 8, &tail, 8);
    } else if (count >= 4 && count < 8) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + count - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + count - 4, &tail, 4);
    } else if (count < 4) {
        for (size_t i = 0; i < count; ++i) to[i] = from[i];
    } else {
        std::memcpy(to, from, count);
    }
}

}  // namespace

// Takes the arguments through a pointer: where va_list is a plain pointer (Win64), a helper
// that took it by value would read the same argument again on every call.
static int FormatThrough(char* out, size_t size, const char* format, va_list* args) {
    if (size == 0) return -1;
    char* at = out;
    char* const last = out + size - 1;  // room for the terminator
    auto put = [&](const char* from, size_t count) {
        if (count > static_cast<size_t>(last - at)) return false;
        CopyPiece(at, from, count);
        at += count;
        return true;
    };
    const char* f = format;
    for (;;) {
        // The literal text up to the next conversion, in one copy.
        const char* literal = f;
        f = NextConversion(f);
        if (!put(literal, static_cast<size_t>(f - literal))) return -1;
        if (*f == '\0') break;
        ++f;
        Length length = Length::Int;
        if (*f == 'l') {
            ++f;
            length = Length::Long;
        }
        // Wide enough for any 64-bit value in decimal with its sign.
        char number[24];
        char* const numberEnd = number + sizeof number;
        char* digits;
        switch (*f) {
            case 'd':
            case 'i': {
                const long long value = SignedArgument(length, args);
                // Negated as unsigned, so the most negative value stays exact.
                digits = Decimal(value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value),
                                 numberEnd);
                if (value < 0) *--digits = '-';
                break;
            }
            case 'u':
                digits = Decimal(UnsignedArgument(length, args), numberEnd);
                break;
            case 'x':
                digits = Hexadecimal(UnsignedArgument(length, args), "0123456789abcdef", numberEnd);
                break;
            case 'X':
                digits = Hexadecimal(UnsignedArgument(length, args), "0123456789ABCDEF", numberEnd);
                break;
            case 'c':
                if (length != Length::Int) return -1;  // %lc converts a wide character
                digits = numberEnd - 1;
                *digits = static_cast<char>(static_cast<unsigned char>(va_arg(*args, int)));
                // The text this returns holds no NUL, so its length is the entry's length.
                if (*digits == '\0') return -1;
                break;
            case 's': {
                if (length != Length::Int) return -1;  // %ls takes a wide string
                const char* text = va_arg(*args, const char*);
                if (text == nullptr || !put(text, std::strlen(text))) return -1;
                ++f;
                continue;
            }
            case '%':
                if (length != Length::Int) return -1;
                digits = numberEnd - 1;
                *digits = '%';
                break;
            default:
                return -1;
        }
        if (!put(digits, static_cast<size_t>(numberEnd - digits))) return -1;
        ++f;
    }
    *at = '\0';
    return static_cast<int>(at - out);
}

int FormatCommonConversions(char* out, size_t size, const char* format, va_list args) {
    va_list own;
    va_copy(own, args);
    const int written = FormatThrough(out, size, format, &own);
    va_end(own);
    return written;
}

}  // namespace vantrel
