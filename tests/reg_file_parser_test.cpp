// The .reg file parser of vantrel-reg: a pure function from text to operations, or to an
// error with its line. Also the writer, whose output the parser must read back exactly.
#include "reg_file_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_path.h"
#include "reg_file_writer.h"
#include "text_encoding.h"

namespace vantrel::reg {
namespace {

using Kind = RegFileOperation::Kind;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

RegFileParse Parse(const std::string& body) {
    return ParseRegFile(kHeader + body);
}

// Expects a parse error on `line` whose message contains `fragment`.
void ExpectError(const std::string& text, int line, const std::string& fragment) {
    RegFileParse parse = ParseRegFile(text);
    EXPECT_FALSE(parse.ok()) << text;
    EXPECT_EQ(line, parse.errorLine) << text << "\n" << parse.error;
    EXPECT_NE(std::string::npos, parse.error.find(fragment)) << parse.error;
    EXPECT_TRUE(parse.operations.empty());
}

TEST(RegFileParser, ReadsSectionsAndEveryKindOfValue) {
    RegFileParse parse = Parse(
        "[HKEY_CURRENT_USER\\Software\\Test]\n"
        "\"Text\"=\"C:\\\\dir \\\"q\\\"\"\n"
        "\"Count\"=dword:0000001F\n"
        "@=\"default\"\n"
        "\"Bin\"=hex:00,ff,10\n"
        "\"Multi\"=hex(7):61,00,62,00,00\n"
        "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
        "\"None\"=hex(0):\n"
        "\"Odd\"=hex(12345678):7a\n"
        "\n"
        "[hkcu\\Software\\Test\\c:/tools/viewer.exe]\n");
    ASSERT_TRUE(parse.ok()) << parse.errorLine << ": " << parse.error;
    const auto& ops = parse.operations;
    ASSERT_EQ(10u, ops.size());
    EXPECT_EQ(Kind::CreateKey, ops[0].kind);
    EXPECT_EQ("Software\\Test", ops[0].keyPath);
    EXPECT_EQ(3, ops[0].line);
    EXPECT_EQ(Kind::SetValue, ops[1].kind);
    EXPECT_EQ("Software\\Test", ops[1].keyPath);
    EXPECT_EQ("Text", ops[1].valueName);
    EXPECT_EQ(platform::kRegSz, ops[1].type);
    EXPECT_EQ(std::string("C:\\dir \"q\"\0", 11), ops[1].data);  // with its terminating zero
    EXPECT_EQ(platform::kRegDword, ops[2].type);
    EXPECT_EQ(std::string("\x1f\x00\x00\x00", 4), ops[2].data);
    EXPECT_EQ("", ops[3].valueName);
    EXPECT_EQ(std::string("default\0", 8), ops[3].data);
    EXPECT_EQ(platform::kRegBinary, ops[4].type);
    EXPECT_EQ(std::string("\x00\xff\x10", 3), ops[4].data);
    EXPECT_EQ(platform::kRegMultiSz, ops[5].type);
    EXPECT_EQ(std::string("a\0b\0\0", 5), ops[5].data);  // 8-bit: an earlier vantrel-reg export
    EXPECT_EQ(platform::kRegQword, ops[6].type);
    EXPECT_EQ(8u, ops[6].data.size());
    EXPECT_EQ(platform::kRegNone, ops[7].type);
    EXPECT_EQ("", ops[7].data);
    EXPECT_EQ(0x12345678u, ops[8].type);
    EXPECT_EQ(Kind::CreateKey, ops[9].kind);
    EXPECT_EQ("Software\\Test\\c:/tools/viewer.exe", ops[9].keyPath);
    EXPECT_EQ(13, ops[9].line);
}

TEST(RegFileParser, ReadsDeletions) {
    RegFileParse parse = Parse(
        "[-HKEY_CURRENT_USER\\Old\\Tree]\n"
        "[HKEY_CURRENT_USER\\Kept]\n"
        "\"gone\"=-\n"
        "@=-\n");
    ASSERT_TRUE(parse.ok()) << parse.error;
    ASSERT_EQ(4u, parse.operations.size());
    EXPECT_EQ(Kind::DeleteKey, parse.operations[0].kind);
    EXPECT_EQ("Old\\Tree", parse.operations[0].keyPath);
    EXPECT_EQ(Kind::DeleteValue, parse.operations[2].kind);
    EXPECT_EQ("gone", parse.operations[2].valueName);
    EXPECT_EQ(Kind::DeleteValue, parse.operations[3].kind);
    EXPECT_EQ("", parse.operations[3].valueName);
}

TEST(RegFileParser, ContinuedHexLinesAndSpacing) {
    RegFileParse parse = Parse(
        "[HKCU\\K]\n"
        "\"Long\"=hex:01,02,\\\n"
        "  03,04,\\\n"
        "\t05\n"
        "  \"Spaced\" = dword:1\n"
        "\"Loose\"=hex: 0a , b ,\\\n"
        "  c\n"
        "\"After\"=\"x\"\n");
    ASSERT_TRUE(parse.ok()) << parse.errorLine << ": " << parse.error;
    ASSERT_EQ(5u, parse.operations.size());
    EXPECT_EQ(std::string("\x01\x02\x03\x04\x05", 5), parse.operations[1].data);
    EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), parse.operations[2].data);
    EXPECT_EQ(std::string("\x0a\x0b\x0c", 3), parse.operations[3].data);
    EXPECT_EQ(10, parse.operations[4].line);
}

// UTF-16LE of ASCII text.
std::string Wide(const std::string& ascii) {
    std::string wide;
    for (char c : ascii) wide += std::string{c, '\0'};
    return wide;
}

// A UTF-16LE file as reg.exe writes it, holding the value "v" in key K; `data` follows "=",
// already in UTF-16LE.
std::string Utf16File(const std::string& data) {
    return "\xFF\xFE" + Wide("Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\K]\r\n\"v\"=") +
           data + Wide("\r\n");
}

TEST(RegFileParser, StringDataFollowsEachFilesConvention) {
    const std::string kSection = "[HKCU\\K]\r\n\"v\"=";
    struct Row {
        const char* fault;
        std::string file;
        std::string data;  // what "v" stores, when errorLine is 0
        int errorLine;
        const char* error;
    };
    const Row rows[] = {
        {"hex(2) of a 5.00 file cut at its first zero byte",
         Utf16File(Wide("hex(2):25,00,50,00,41,00,54,00,48,00,25,00,3b,00,78,00,00,00")),
         std::string("%PATH%;x\0", 9), 0, ""},
        {"hex(7) of a 5.00 file cut after its first item",
         Utf16File(Wide("hex(7):61,00,00,00,62,00,00,00,63,00,00,00,00,00")),
         std::string("a\0b\0c\0\0", 7), 0, ""},
        {"characters beyond Latin-1 refused instead of stored as UTF-8",
         Utf16File(Wide("\"") + std::string("\x3A\x26\x3D\xD8\x00\xDE", 6) + Wide("\"")),
         std::string("\xE2\x98\xBA\xF0\x9F\x98\x80\0", 8), 0, ""},
        {"non-string hex data of a 5.00 file converted", Utf16File(Wide("hex(0):61,00")),
         std::string("a\0", 2), 0, ""},
        {"hex data of an 8-bit 5.00 file taken for UTF-16 (regedit keeps it 8-bit)",
         "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + kSection +
             "hex(2):41,42,00\r\n",
         std::string("AB\0", 3), 0, ""},
        {"hex data of a UTF-16 REGEDIT4 file taken for 8-bit (regedit takes it for UTF-16)",
         "\xFF\xFE" + Wide("REGEDIT4\r\n\r\n" + kSection + "hex(7):41,00,00,00,00,00\r\n"),
         std::string("A\0\0", 3), 0, ""},
        {"REGEDIT4 hex data converted", "REGEDIT4\r\n\r\n" + kSection + "hex(2):41,00\r\n",
         std::string("A\0", 2), 0, ""},
        {"a quoted string stored without its zero", "REGEDIT4\n\n" + kSection + "\"x\"\n",
         std::string("x\0", 2), 0, ""},
        {"an earlier vantrel-reg export (5.00, 8-bit, LF) misread as UTF-16",
         kHeader + "[HKCU\\K]\n\"v\"=hex(7):61,00,00\n", std::string("a\0\0", 3), 0, ""},
        {"odd UTF-16 data stored cut", Utf16File(Wide("hex(2):41,00,42")), "", 4, "UTF-16LE"},
        {"a lone surrogate in data", Utf16File(Wide("hex(7):00,d8,00,00")), "", 4, "UTF-16LE"},
        {"a lone surrogate in the text",
         Utf16File(Wide("\"") + std::string("\x00\xD8", 2) + Wide("\"")), "", 4, "lone surrogate"},
        {"half a character at the end", Utf16File("") + "A", "", 5, "half a character"},
        {"big-endian text misread", "\xFE\xFF", "", 1, "big-endian"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        if (row.errorLine) {
            ExpectError(row.file, row.errorLine, row.error);
            continue;
        }
        RegFileParse parse = ParseRegFile(row.file);
        ASSERT_TRUE(parse.ok()) << parse.errorLine << ": " << parse.error;
        ASSERT_EQ(2u, parse.operations.size());
        EXPECT_EQ("K", parse.operations[1].keyPath);
        EXPECT_EQ(row.data, parse.operations[1].data);
    }
}

TEST(RegFileText, StoreBytesAndUtf16ConvertBothWaysWithoutLoss) {
    struct Row {
        const char* fault;
        std::string store;
        std::string utf16;
    };
    using S = std::string;
    const Row rows[] = {
        {"NUL cut or dropped", S("a\0", 2), S("a\0\0\0", 4)},
        {"two-byte UTF-8 taken bytewise", "\xC3\xA9", S("\xE9\0", 2)},
        {"three-byte UTF-8 taken bytewise", "\xE2\x98\xBA", "\x3A\x26"},
        {"a character beyond U+FFFF without its surrogate pair", "\xF0\x9F\x98\x80",
         S("\x3D\xD8\x00\xDE", 4)},
        {"a byte that is no UTF-8 lost", "\xE9", "\xE9\xDC"},
        {"an overlong form taken as a character", "\xC0\x80", "\xC0\xDC\x80\xDC"},
        {"an encoded surrogate taken as a character", "\xED\xA0\x80", "\xED\xDC\xA0\xDC\x80\xDC"},
        {"a sequence cut at the end taken as a character", "a\xE2\x98",
         S("a\0\xE2\xDC\x98\xDC", 6)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        EXPECT_EQ(row.utf16, StoreToUtf16Le(row.store));
        std::string back;
        size_t bad = 0;
        EXPECT_TRUE(Utf16LeToStore(row.utf16, &back, &bad));
        EXPECT_EQ(row.store, back);
    }
}

TEST(RegFileParser, RefusesMalformedLinesWithTheirNumber) {
    ExpectError("", 1, "empty");
    ExpectError("REGEDIT5\n", 1, "not a registry file");
    ExpectError(kHeader + "\"v\"=\"x\"\n", 3, "outside a key section");
    ExpectError(kHeader + "[-HKCU\\Gone]\n\"v\"=\"x\"\n", 4, "outside a key section");
    ExpectError(kHeader + "[HKCU\\K\n", 3, "lacks its ']'");
    ExpectError(kHeader + "[HKCU\\K] junk\n", 3, "after the ']'");
    ExpectError(kHeader + "[HKLM\\Software]\n", 3, "Only HKEY_CURRENT_USER");
    ExpectError(kHeader + "[HKCU\\\\K]\n", 3, "Invalid key name");
    ExpectError(kHeader + "[]\n", 3, "Invalid key name");
    const std::string section = kHeader + "[HKCU\\K]\n";
    ExpectError(section + "\"v\"=\"unterminated\n", 4, "no closing quote");
    ExpectError(section + "\"v\"=\"C:\\dir\"\n", 4, "unknown escape \\d");
    ExpectError(section + "\"v\"=\"x\" y\n", 4, "after the closing quote");
    ExpectError(section + "\"v\"\"x\"\n", 4, "'=' expected");
    ExpectError(section + "\"unterminated\n", 4, "value name");
    ExpectError(section + "\"v\"=dword:\n", 4, "1 to 8 hex digits");
    ExpectError(section + "\"v\"=dword:123456789\n", 4, "1 to 8 hex digits");
    ExpectError(section + "\"v\"=dword:12g\n", 4, "1 to 8 hex digits");
    ExpectError(section + "\"v\"=hex:1,zz\n", 4, "bad hex byte \"zz\"");
    ExpectError(section + "\"v\"=hex:123\n", 4, "bad hex byte");
    ExpectError(section + "\"v\"=hex:01,,02\n", 4, "bad hex byte \"\"");
    ExpectError(section + "\"v\"=hex:01,02,\n", 4, "ends with a comma");
    ExpectError(section + "\"v\"=hex(x):01\n", 4, "type number");
    ExpectError(section + "\"v\"=hex(1)01\n", 4, "type number");
    ExpectError(section + "\"v\"=hex(123456789):01\n", 4, "type number");
    ExpectError(section + "\"v\"=qword:1\n", 4, "unrecognized value data");
    ExpectError(section + "garbage\n", 4, "unrecognized line");
    // Errors inside continued data name the physical line; an unfinished one the last.
    ExpectError(section + "\"v\"=hex:01,\\\n  02,\\\n  zz\n", 6, "bad hex byte");
    ExpectError(section + "\"v\"=hex:01,\\\n", 4, "ends inside continued hex data");
    // The error in the middle of a file: the earlier good lines give no operations.
    ExpectError(section + "\"a\"=\"1\"\n\"b\"=hex:zz\n\"c\"=\"3\"\n", 5, "bad hex byte");
}

TEST(RegFileWriter, WritesWhatTheParserReadsBack) {
    using Value = platform::RegistryStore::Value;
    std::vector<RegFileSection> sections = {
        {"HKEY_CURRENT_USER", {{"AtRoot", platform::kRegSz, std::string("r\0", 2)}}},
        {"HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9",
         {{"", platform::kRegSz, std::string("default\0", 8)},
          {"Quote\"Back\\\nNew", platform::kRegSz, std::string("C:\\x \"y\"\0", 9)},
          {"NoZero", platform::kRegSz, "as the library writes"},
          {"Raw", platform::kRegSz, std::string("a\0b\r\n", 5)},
          {"Expand", platform::kRegExpandSz, std::string("%A%;\xC3\xA9\0", 7)},
          {"Multi", platform::kRegMultiSz, std::string("a\0\xE9\0\0", 5)},
          {"Count", platform::kRegDword, std::string("\x78\x56\x34\x12", 4)},
          {"ShortDword", platform::kRegDword, std::string("\x01", 1)},
          {"Long", platform::kRegBinary, std::string(200, '\xAB')},
          {"Empty", platform::kRegBinary, ""},
          {"Odd", 0xFFFFFFFFu, "z"}}},
        {"HKEY_CURRENT_USER\\Software\\Test\\c:/tools/viewer.exe", {}},
    };
    const std::string file = WriteRegFile(sections);
    ASSERT_EQ(0u, file.rfind("\xFF\xFE", 0));
    std::string text;
    size_t bad = 0;
    ASSERT_TRUE(Utf16LeToStore(file.substr(2), &text, &bad));
    // String data in UTF-16LE as the registry holds it; "\xE9" is no UTF-8 and travels as
    // its stand-in.
    for (const char* line :
         {"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER]\r\n",
          "\r\n[HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9]\r\n",
          "\"NoZero\"=\"as the library writes\"\r\n", "\"Count\"=dword:12345678\r\n",
          "\"Raw\"=hex(1):61,00,00,00,62,00,0d,00,0a,00\r\n",
          "\"Expand\"=hex(2):25,00,41,00,25,00,3b,00,e9,00,00,00\r\n",
          "\"Multi\"=hex(7):61,00,00,00,e9,dc,00,00,00,00\r\n", "\"ShortDword\"=hex(4):01\r\n",
          "\"Odd\"=hex(ffffffff):7a\r\n"}) {
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    }
    // regedit's wrapping: no line longer than 80 characters, 25 bytes per continued line.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        EXPECT_EQ('\r', text[end - 1]);
        EXPECT_LE(end - start - 1, 80u) << text.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_NE(std::string::npos, text.find("\n  " + [] {
        std::string row;
        for (int i = 0; i < 25; ++i) row += "ab,";
        return row + "\\\r\n";
    }()));

    RegFileParse parse = ParseRegFile(file);
    ASSERT_TRUE(parse.ok()) << parse.errorLine << ": " << parse.error << "\n" << text;
    std::vector<RegFileSection> back;
    for (const RegFileOperation& operation : parse.operations) {
        if (operation.kind == Kind::CreateKey) {
            back.push_back({FullKeyName(operation.keyPath), {}});
        } else {
            ASSERT_EQ(Kind::SetValue, operation.kind);
            back.back().values.push_back({operation.valueName, operation.type, operation.data});
        }
    }
    ASSERT_EQ(sections.size(), back.size());
    for (size_t s = 0; s < sections.size(); ++s) {
        EXPECT_EQ(sections[s].keyName, back[s].keyName);
        ASSERT_EQ(sections[s].values.size(), back[s].values.size());
        for (size_t v = 0; v < sections[s].values.size(); ++v) {
            const Value& expected = sections[s].values[v];
            const Value& actual = back[s].values[v];
            EXPECT_EQ(expected.name, actual.name);
            EXPECT_EQ(expected.type, actual.type) << expected.name;
            // A string stored without its zero gains one, as any Windows import gives it.
            std::string data = expected.name == "NoZero" ? expected.data + '\0' : expected.data;
            EXPECT_EQ(data, actual.data) << expected.name;
        }
    }
}

}  // namespace
}  // namespace vantrel::reg
