#include "text_encoding.h"

#include <cstdint>

namespace vantrel::reg {

namespace {

void AppendUtf8(uint32_t point, std::string* out) {
    if (point < 0x80) {
        out->push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out->push_back(static_cast<char>(0xC0 | point >> 6));
        out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | point >> 12));
        out->push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | point >> 18));
        out->push_back(static_cast<char>(0x80 | (point >> 12 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

void AppendUnit(uint32_t unit, std::string* out) {
    out->push_back(static_cast<char>(unit & 0xFF));
    out->push_back(static_cast<char>(unit >> 8));
}

// The code point of the valid UTF-8 sequence at text[i] and its length; 0 when the bytes
// there are not one (overlong forms and encoded surrogates included).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t* point) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t lead = byte(i);
    if (lead < 0x80) {
        *point = lead;
        return 1;
    }
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
    uint32_t value = lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
        return 0;
    }
    *point = value;
    return length;
}

}  // namespace

bool Utf16LeToStore(std::string_view utf16, std::string* text, size_t* bad) {
    text->clear();
    text->reserve(utf16.size() / 2);
    auto unitAt = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(utf16[i]) |
                                     static_cast<uint8_t>(utf16[i + 1]) << 8);
    };
    size_t i = 0;
    for (; i + 1 < utf16.size(); i += 2) {
        uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < utf16.size()) {
            uint32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), text);
                i += 2;
                continue;
            }
        }
        if (unit >= 0xDC80 && unit < 0xDD00) {
            text->push_back(static_cast<char>(unit - 0xDC00));  // a stand-in for a raw byte
            continue;
        }
        if (unit >= 0xD800 && unit < 0xE000) break;
        AppendUtf8(unit, text);
    }
    if (i == utf16.size()) return true;
    *bad = i;
    return false;
}

std::string StoreToUtf16Le(std::string_view text) {
    std::string utf16;
    utf16.reserve(text.size() * 2);
    for (size_t i = 0; i < text.size();) {
        uint32_t point;
        size_t length = DecodeUtf8(text, i, &point);
        if (length == 0) {
            AppendUnit(0xDC00 + static_cast<uint8_t>(text[i]), &utf16);
            ++i;
            continue;
        }
        i += length;
        if (point >= 0x10000) {
            AppendUnit(0xD800 + ((point - 0x10000) >> 10), &utf16);
            AppendUnit(0xDC00 + ((point - 0x10000) & 0x3FF), &utf16);
        } else {
            AppendUnit(point, &utf16);
        }
    }
    return utf16;
}

}  // namespace vantrel::reg
