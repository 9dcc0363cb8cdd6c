#include "reg_file_parser.h"

#include <algorithm>

#include "ascii_case.h"
#include "hex_digit.h"
#include "key_path.h"
#include "platform/registry.h"
#include "text_encoding.h"

namespace vantrel::reg {

namespace {

using Operation = RegFileOperation;

struct ParseError {
    int line;
    std::string message;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// The file's text in the store's code page: UTF-16LE with BOM converted, a UTF-8 BOM
// dropped. `utf16` tells which it was.
bool Decode(std::string_view raw, std::string* text, bool* utf16, ParseError* error) {
    auto starts = [&](const char* bom, size_t size) { return raw.substr(0, size) == bom; };
    *utf16 = starts("\xFF\xFE", 2);
    if (starts("\xFE\xFF", 2)) {
        *error = {1, "UTF-16 big-endian files are not supported; save it as UTF-16LE or ANSI"};
        return false;
    }
    if (!*utf16) {
        if (starts("\xEF\xBB\xBF", 3)) raw.remove_prefix(3);
        text->assign(raw.data(), raw.size());
        return true;
    }
    size_t bad = 0;
    if (Utf16LeToStore(raw.substr(2), text, &bad)) return true;
    int line = 1 + static_cast<int>(std::count(text->begin(), text->end(), '\n'));
    *error = {line, bad + 3 == raw.size() ? "the UTF-16 text ends in half a character"
                                          : "the UTF-16 text holds a lone surrogate"};
    return false;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A quoted string at the start of `text` (which begins with '"'), with regedit's escapes
// \\ and \" (and \n, \r as Wine writes them in names). Leaves `text` after the closing quote.
bool ReadQuoted(std::string_view* text, std::string* out, std::string* error) {
    out->clear();
    size_t i = 1;
    for (; i < text->size(); ++i) {
        char c = (*text)[i];
        if (c == '"') {
            text->remove_prefix(i + 1);
            return true;
        }
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (++i == text->size()) break;
        switch ((*text)[i]) {
            case '\\':
                out->push_back('\\');
                break;
            case '"':
                out->push_back('"');
                break;
            case 'n':
                out->push_back('\n');
                break;
            case 'r':
                out->push_back('\r');
                break;
            default:
                *error = std::string("unknown escape \\") + (*text)[i] +
                         " in a quoted string (write a backslash as \\\\)";
                return false;
        }
    }
    *error = "a quoted string has no closing quote";
    return false;
}

class Parser {
  public:
    // The string data in hex(N) form of a UTF-16 file is the registry's UTF-16LE; that of an
    // 8-bit file is 8-bit text, whatever its header says (as regedit reads them).
    Parser(std::vector<std::string_view> lines, bool utf16Strings)
        : lines_(std::move(lines)), utf16Strings_(utf16Strings) {}

    bool Run(std::vector<Operation>* operations, ParseError* error) {
        operations_ = operations;
        error_ = error;
        if (lines_.empty()) return Fail(1, "the file is empty");
        std::string_view header = TrimRight(lines_[0]);
        if (header != "Windows Registry Editor Version 5.00" && header != "REGEDIT4") {
            return Fail(1,
                        "not a registry file: the first line must be \"Windows Registry "
                        "Editor Version 5.00\"");
        }
        for (index_ = 1; index_ < lines_.size(); ++index_) {
            std::string_view line = TrimLeft(lines_[index_]);
            if (line.empty() || line[0] == ';') continue;
            bool ok = line[0] == '['                     ? Section(line)
                      : line[0] == '"' || line[0] == '@' ? ValueLine(line)
                                                         : Fail(LineNumber(), "unrecognized line");
            if (!ok) return false;
        }
        return true;
    }

  private:
    int LineNumber() const { return static_cast<int>(index_) + 1; }

    bool Fail(int line, std::string message) {
        *error_ = {line, std::move(message)};
        return false;
    }

    bool Section(std::string_view line) {
        size_t close = line.rfind(']');
        if (close == std::string_view::npos) return Fail(LineNumber(), "a key line lacks its ']'");
        if (!TrimRight(line.substr(close + 1)).empty()) {
            return Fail(LineNumber(), "text after the ']' of a key line");
        }
        std::string_view name = line.substr(1, close - 1);
        bool remove = !name.empty() && name[0] == '-';
        if (remove) name.remove_prefix(1);
        Operation operation;
        operation.kind = remove ? Operation::Kind::DeleteKey : Operation::Kind::CreateKey;
        operation.line = LineNumber();
        std::string error;
        if (!ParseKeyName(name, &operation.keyPath, &error)) return Fail(LineNumber(), error);
        inSection_ = !remove;  // values after a deletion belong to no key
        sectionPath_ = operation.keyPath;
        operations_->push_back(std::move(operation));
        return true;
    }

    bool ValueLine(std::string_view line) {
        int start = LineNumber();
        if (!inSection_) return Fail(start, "a value outside a key section");
        Operation operation;
        operation.line = start;
        operation.keyPath = sectionPath_;
        std::string error;
        if (line[0] == '@') {
            line.remove_prefix(1);
        } else if (!ReadQuoted(&line, &operation.valueName, &error)) {
            return Fail(start, "value name: " + error);
        }
        // Value names travel as C strings everywhere else; a NUL would cut the name short.
        if (operation.valueName.find('\0') != std::string::npos)
            return Fail(start, "value name: a NUL character");
        line = TrimLeft(line);
        if (line.empty() || line[0] != '=') return Fail(start, "'=' expected after the value name");
        line = TrimLeft(line.substr(1));
        operation.kind = Operation::Kind::SetValue;
        bool ok;
        if (TrimRight(line) == "-") {
            operation.kind = Operation::Kind::DeleteValue;
            ok = true;
        } else if (!line.empty() && line[0] == '"') {
            operation.type = platform::kRegSz;
            ok = ReadQuoted(&line, &operation.data, &error);
            operation.data.push_back('\0');  // stored with its terminating zero, as on Windows
            if (ok && !TrimRight(line).empty()) {
                ok = false;
                error = "text after the closing quote";
            }
            if (!ok) return Fail(start, error);
        } else if (StartsWithIgnoringCase(line, "dword:")) {
            ok = Dword(line.substr(6), &operation);
        } else if (StartsWithIgnoringCase(line, "hex:")) {
            operation.type = platform::kRegBinary;
            ok = HexBytes(line.substr(4), &operation);
        } else if (StartsWithIgnoringCase(line, "hex(")) {
            ok = HexType(line.substr(4), &operation);
        } else {
            return Fail(start,
                        "unrecognized value data (expected \"text\", dword:, hex:, "
                        "hex(N): or -)");
        }
        if (!ok) return false;
        operations_->push_back(std::move(operation));
        return true;
    }

    bool Dword(std::string_view text, Operation* operation) {
        text = TrimRight(text);
        if (text.empty() || text.size() > 8) {
            return Fail(LineNumber(), "dword: needs 1 to 8 hex digits");
        }
        uint32_t number = 0;
        for (char c : text) {
            int digit = HexDigit(c);
            if (digit < 0) return Fail(LineNumber(), "dword: needs 1 to 8 hex digits");
            number = number << 4 | static_cast<uint32_t>(digit);
        }
        operation->type = platform::kRegDword;
        for (int i = 0; i < 4; ++i) operation->data.push_back(static_cast<char>(number >> (8 * i)));
        return true;
    }

    bool HexType(std::string_view text, Operation* operation) {
        size_t close = text.find(')');
        std::string_view digits = text.substr(0, close);
        if (close == std::string_view::npos || digits.empty() || digits.size() > 8 ||
            close + 1 >= text.size() || text[close + 1] != ':') {
            return Fail(LineNumber(), "hex(N): needs a type number of 1 to 8 hex digits");
        }
        uint32_t type = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) return Fail(LineNumber(), "hex(N): needs a type number in hex");
            type = type << 4 | static_cast<uint32_t>(digit);
        }
        operation->type = type;
        if (!HexBytes(text.substr(close + 2), operation)) return false;
        bool text16 = type == platform::kRegSz || type == platform::kRegExpandSz ||
                      type == platform::kRegMultiSz;
        if (!utf16Strings_ || !text16) return true;
        std::string converted;
        size_t bad = 0;
        if (!Utf16LeToStore(operation->data, &converted, &bad)) {
            return Fail(operation->line, "hex(" + std::string(digits) +
                                             ") data of a UTF-16 file is UTF-16LE text, but "
                                             "byte " +
                                             std::to_string(bad + 1) + " starts no character");
        }
        operation->data = std::move(converted);
        return true;
    }

    // Comma-separated bytes of one or two hex digits; a line ending in "\" goes on.
    bool HexBytes(std::string_view text, Operation* operation) {
        while (true) {
            text = TrimRight(text);
            bool more = !text.empty() && text.back() == '\\';
            if (more) text = TrimRight(text.substr(0, text.size() - 1));
            size_t position = 0;
            while (position < text.size()) {
                size_t comma = text.find(',', position);
                bool last = comma == std::string_view::npos;
                if (last) comma = text.size();
                std::string_view token =
                    TrimRight(TrimLeft(text.substr(position, comma - position)));
                position = comma + 1;
                // "xx," before a continuation leaves one empty token at the end.
                if (token.empty() && last && more) break;
                int high = token.size() == 2 ? HexDigit(token[0]) : 0;
                int low = token.empty() ? -1 : HexDigit(token.back());
                if (token.empty() || token.size() > 2 || high < 0 || low < 0) {
                    return Fail(LineNumber(), "bad hex byte \"" + std::string(token) +
                                                  "\" (bytes are written as 2 hex digits "
                                                  "separated by commas)");
                }
                operation->data.push_back(static_cast<char>(high * 16 + low));
                if (last) break;
                if (position == text.size() && !more) {
                    return Fail(LineNumber(), "hex data ends with a comma");
                }
            }
            if (!more) return true;
            if (index_ + 1 >= lines_.size()) {
                return Fail(LineNumber(), "the file ends inside continued hex data");
            }
            ++index_;
            text = TrimLeft(lines_[index_]);
        }
    }

    std::vector<std::string_view> lines_;
    size_t index_ = 0;
    std::vector<Operation>* operations_ = nullptr;
    ParseError* error_ = nullptr;
    bool utf16Strings_;
    bool inSection_ = false;
    std::string sectionPath_;
};

}  // namespace

RegFileParse ParseRegFile(std::string_view raw) {
    RegFileParse result;
    std::string text;
    ParseError error{0, std::string()};
    bool utf16 = false;
    if (Decode(raw, &text, &utf16, &error)) {
        Parser parser(SplitLines(text), utf16);
        if (parser.Run(&result.operations, &error)) return result;
    }
    result.operations.clear();
    result.errorLine = error.line;
    result.error = std::move(error.message);
    return result;
}

}  // namespace vantrel::reg
