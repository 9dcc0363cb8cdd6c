// The .reg import parser of the settings editor over arbitrary text: it must never crash,
// hang or read out of bounds, and whatever it returns must be self-consistent, since import
// applies the operations as given.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "reg_file_parser.h"
#include "text_encoding.h"

using fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const vantrel::reg::RegFileParse parse = vantrel::reg::ParseRegFile(text);
    if (!parse.ok()) {
        Require(parse.errorLine > 0 && !parse.error.empty());
        return 0;
    }
    int previousLine = 0;
    for (const vantrel::reg::RegFileOperation& operation : parse.operations) {
        Require(operation.line >= 1 && operation.line >= previousLine);
        previousLine = operation.line;
        // Key paths and names go into the store's single-byte names; an embedded NUL would
        // silently cut them.
        Require(operation.keyPath.find('\0') == std::string::npos);
        Require(operation.valueName.find('\0') == std::string::npos);
        // Export writes names and string data as UTF-16LE: whatever import stored must come
        // back byte for byte.
        std::string back;
        size_t bad = 0;
        for (const std::string* text :
             {&operation.keyPath, &operation.valueName, &operation.data}) {
            Require(vantrel::reg::Utf16LeToStore(vantrel::reg::StoreToUtf16Le(*text), &back, &bad));
            Require(back == *text);
        }
    }
    return 0;
}
