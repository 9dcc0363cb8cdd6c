#include "value_text.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "ascii_case.h"
#include "hex_digit.h"
#include "platform/registry.h"
#include "text_encoding.h"

namespace vantrel::reg {

namespace {

using namespace platform;

constexpr uint32_t kRegDwordBigEndian = 5;

struct TypeEntry {
    const char* name;
    uint32_t type;
    bool forAdd;  // accepted by `add /t`
};

constexpr TypeEntry kTypes[] = {
    {"REG_NONE", kRegNone, true},
    {"REG_SZ", kRegSz, true},
    {"REG_EXPAND_SZ", kRegExpandSz, true},
    {"REG_BINARY", kRegBinary, true},
    {"REG_DWORD", kRegDword, true},
    {"REG_DWORD_LITTLE_ENDIAN", kRegDword, true},
    {"REG_DWORD_BIG_ENDIAN", kRegDwordBigEndian, true},
    {"REG_LINK", 6, false},
    {"REG_MULTI_SZ", kRegMultiSz, true},
    {"REG_RESOURCE_LIST", 8, false},
    {"REG_FULL_RESOURCE_DESCRIPTOR", 9, false},
    {"REG_RESOURCE_REQUIREMENTS_LIST", 10, false},
    {"REG_QWORD", kRegQword, true},
};

// Decimal, or hex after "0x"; nothing else (no sign, no spaces), at most `max`.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* number) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0 || digit >= base) return false;
        if (value > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
            return false;
        }
        value = value * base + digit;
    }
    *number = value;
    return true;
}

void AppendLittleEndian(uint64_t value, int bytes, std::string* out) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t ReadLittleEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) value = (value << 8) | static_cast<uint8_t>(bytes[i]);
    return value;
}

std::string HexPairs(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        uint8_t byte = static_cast<uint8_t>(c);
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0xF]);
    }
    return text;
}

}  // namespace

bool TypeFromName(std::string_view name, uint32_t* type) {
    for (const TypeEntry& entry : kTypes) {
        if (entry.forAdd && EqualsIgnoringAsciiCase(name, entry.name)) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

std::string TypeName(uint32_t type) {
    for (const TypeEntry& entry : kTypes) {
        if (entry.type == type) return entry.name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%" PRIx32, type);
    return text;
}

bool ParseData(uint32_t type, std::string_view text, char separator, std::string* bytes,
               std::string* error) {
    bytes->clear();
    switch (type) {
        case kRegDword:
        case kRegDwordBigEndian: {
            uint64_t number;
            if (!ParseNumber(text, 0xFFFFFFFFu, &number)) {
                *error = "Invalid REG_DWORD data \"" + std::string(text) +
                         "\": give a number from 0 to 4294967295, in decimal or as 0x hex.";
                return false;
            }
            if (type == kRegDwordBigEndian) {
                for (int shift = 24; shift >= 0; shift -= 8) {
                    bytes->push_back(static_cast<char>((number >> shift) & 0xFF));
                }
            } else {
                AppendLittleEndian(number, 4, bytes);
            }
            return true;
        }
        case kRegQword: {
            uint64_t number;
            if (!ParseNumber(text, UINT64_MAX, &number)) {
                *error = "Invalid REG_QWORD data \"" + std::string(text) +
                         "\": give a number from 0 to 18446744073709551615, in decimal or as "
                         "0x hex.";
                return false;
            }
            AppendLittleEndian(number, 8, bytes);
            return true;
        }
        case kRegBinary: {
            // An odd count makes the first digit a byte of its own, as reg.exe does.
            size_t i = 0;
            if (text.size() % 2 == 1) {
                int digit = HexDigit(text[0]);
                if (digit < 0) break;
                bytes->push_back(static_cast<char>(digit));
                i = 1;
            }
            for (; i < text.size(); i += 2) {
                int high = HexDigit(text[i]);
                int low = HexDigit(text[i + 1]);
                if (high < 0 || low < 0) break;
                bytes->push_back(static_cast<char>(high * 16 + low));
            }
            if (i < text.size()) break;
            return true;
        }
        case kRegMultiSz: {
            std::vector<std::string> items;
            std::string item;
            for (size_t i = 0; i < text.size(); ++i) {
                bool split = separator
                                 ? text[i] == separator
                                 : text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '0';
                if (!split) {
                    item.push_back(text[i]);
                    continue;
                }
                if (!separator) ++i;  // the "0" of "\0"
                items.push_back(std::move(item));
                item.clear();
            }
            if (!item.empty())
                items.push_back(std::move(item));  // a trailing separator ends the list
            for (const std::string& each : items) {
                if (each.empty()) {
                    *error = "Invalid REG_MULTI_SZ data: an item is empty.";
                    return false;
                }
                bytes->append(each);
                bytes->push_back('\0');
            }
            bytes->push_back('\0');
            return true;
        }
        case kRegNone:
            // reg.exe stores it as a UTF-16 string, which no ANSI read converts.
            *bytes = StoreToUtf16Le(std::string(text) + '\0');
            return true;
        default:  // REG_SZ, REG_EXPAND_SZ: with the terminating zero, as reg.exe stores them
            bytes->assign(text.data(), text.size());
            bytes->push_back('\0');
            return true;
    }
    *error = "Invalid REG_BINARY data \"" + std::string(text) + "\": give hex digits only.";
    bytes->clear();
    return false;
}

std::string FormatData(uint32_t type, std::string_view bytes) {
    char text[32];
    switch (type) {
        case kRegSz:
        case kRegExpandSz:
            return std::string(bytes.substr(0, bytes.find('\0')));
        case kRegMultiSz: {
            std::string joined;
            size_t start = 0;
            while (start < bytes.size()) {
                size_t end = bytes.find('\0', start);
                if (end == std::string_view::npos) end = bytes.size();
                if (end == start) break;  // the empty item that ends the list
                if (start > 0) joined += "\\0";
                joined.append(bytes.substr(start, end - start));
                start = end + 1;
            }
            return joined;
        }
        case kRegDword:
        case kRegDwordBigEndian:
            if (bytes.size() != 4) break;
            if (type == kRegDword) {
                std::snprintf(text, sizeof text, "0x%" PRIx64, ReadLittleEndian(bytes));
            } else {
                std::string reversed(bytes.rbegin(), bytes.rend());
                std::snprintf(text, sizeof text, "0x%" PRIx64, ReadLittleEndian(reversed));
            }
            return text;
        case kRegQword:
            if (bytes.size() != 8) break;
            std::snprintf(text, sizeof text, "0x%" PRIx64, ReadLittleEndian(bytes));
            return text;
        default:
            break;
    }
    return HexPairs(bytes);
}

}  // namespace vantrel::reg
