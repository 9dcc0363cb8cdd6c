#include "reg_file_writer.h"

#include <cinttypes>
#include <cstdio>

#include "text_encoding.h"

namespace vantrel::reg {

namespace {

using platform::RegistryStore;

// regedit breaks hex data once a line reaches this many characters, and goes on with two
// spaces: 25 bytes on each continuation line.
constexpr size_t kHexLineLimit = 77;

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
            case '\\':
                quoted += "\\\\";
                break;
            case '"':
                quoted += "\\\"";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            default:
                quoted.push_back(c);
        }
    }
    return quoted + "\"";
}

// Characters, not bytes, count for the wrapping, as in the UTF-16 file.
size_t Characters(const std::string& text) {
    return StoreToUtf16Le(text).size() / 2;
}

void AppendHex(std::string* out, size_t lineLength, const std::string& prefix,
               const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    *out += prefix;
    lineLength += prefix.size();
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t byte = static_cast<uint8_t>(bytes[i]);
        out->push_back(kDigits[byte >> 4]);
        out->push_back(kDigits[byte & 0xF]);
        if (i + 1 == bytes.size()) break;
        out->push_back(',');
        lineLength += 3;
        if (lineLength >= kHexLineLimit) {
            *out += "\\\r\n  ";
            lineLength = 2;
        }
    }
}

void AppendValue(std::string* out, const RegistryStore::Value& value) {
    std::string name = value.name.empty() ? "@=" : Quoted(value.name) + "=";
    *out += name;
    // The terminating zero is implied by the quotes; a string without one gains it on import,
    // which every reader of text reads the same.
    std::string text = value.data;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    bool text16 = value.type == platform::kRegSz || value.type == platform::kRegExpandSz ||
                  value.type == platform::kRegMultiSz;
    if (value.type == platform::kRegSz &&
        text.find_first_of(std::string("\0\r\n", 3)) == std::string::npos) {
        *out += Quoted(text);
    } else if (value.type == platform::kRegDword && value.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<uint8_t>(value.data[i]);
        char dword[16];
        std::snprintf(dword, sizeof dword, "dword:%08" PRIx32, number);
        *out += dword;
    } else if (value.type == platform::kRegBinary) {
        AppendHex(out, Characters(name), "hex:", value.data);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%" PRIx32 "):", value.type);
        AppendHex(out, Characters(name), prefix, text16 ? StoreToUtf16Le(value.data) : value.data);
    }
    *out += "\r\n";
}

}  // namespace

std::string WriteRegFile(const std::vector<RegFileSection>& sections) {
    std::string out = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const RegFileSection& section : sections) {
        out += "[" + section.keyName + "]\r\n";
        for (const RegistryStore::Value& value : section.values) AppendValue(&out, value);
        out += "\r\n";
    }
    return "\xFF\xFE" + StoreToUtf16Le(out);
}

}  // namespace vantrel::reg
