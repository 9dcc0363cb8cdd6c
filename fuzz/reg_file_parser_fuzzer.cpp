// The settings editor's .reg parser over any text: no crash, hang or overread, and a result
// that is self-consistent, since import applies the operations as given.
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "reg_file_parser.h"
#include "text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fuzz::Require;
    namespace reg = vantrel::reg;
    const reg::RegFileParse parse =
        reg::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parse.ok()) return Require(parse.errorLine > 0 && !parse.error.empty()), 0;
    int previousLine = 1;
    for (const reg::RegFileOperation& operation : parse.operations) {
        Require(operation.line >= previousLine);
        previousLine = operation.line;
        // Names go into the store's single-byte names, where a NUL would cut them; export
        // writes them and string data as UTF-16LE, which must come back byte for byte.
        Require(operation.keyPath.find('\0') == std::string::npos &&
                operation.valueName.find('\0') == std::string::npos);
        for (const std::string* text :
             {&operation.keyPath, &operation.valueName, &operation.data}) {
            std::string back;
            size_t bad = 0;
            Require(reg::Utf16LeToStore(reg::StoreToUtf16Le(*text), &back, &bad) && back == *text);
        }
    }
    return 0;
}
