// The .reg file parser of vantrel-reg: a pure function from text to operations, or to an
// error with its line. Also the writer, whose output the parser must read back exactly.
#include "reg_file_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_path.h"
#include "reg_file_writer.h"

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
    EXPECT_EQ("C:\\dir \"q\"", ops[1].data);  // no terminating zero
    EXPECT_EQ(platform::kRegDword, ops[2].type);
    EXPECT_EQ(std::string("\x1f\x00\x00\x00", 4), ops[2].data);
    EXPECT_EQ("", ops[3].valueName);
    EXPECT_EQ("default", ops[3].data);
    EXPECT_EQ(platform::kRegBinary, ops[4].type);
    EXPECT_EQ(std::string("\x00\xff\x10", 3), ops[4].data);
    EXPECT_EQ(platform::kRegMultiSz, ops[5].type);
    EXPECT_EQ(std::string("a\0b\0\0", 5), ops[5].data);
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

TEST(RegFileParser, AcceptsBomsLineEndsAndRegedit4) {
    const std::string body = "[HKCU\\K]\r\n\"v\"=\"x\"\r\n";
    EXPECT_TRUE(
        ParseRegFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + body).ok());
    EXPECT_TRUE(ParseRegFile("REGEDIT4\n\n" + body).ok());
    // UTF-16LE with its BOM, as reg.exe writes it.
    std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n" + body;
    std::string utf16 = "\xFF\xFE";
    for (char c : utf8) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    RegFileParse parse = ParseRegFile(utf16);
    ASSERT_TRUE(parse.ok()) << parse.error;
    ASSERT_EQ(2u, parse.operations.size());
    EXPECT_EQ("x", parse.operations[1].data);
    // A character beyond one byte cannot be stored: refused on its line.
    std::string wide = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\n\n[HKCU\\")) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    wide += std::string("\x3A\x26]\0\n\0", 6);  // U+263A
    ExpectError(wide, 3, "above U+00FF");
    ExpectError("\xFE\xFF", 1, "big-endian");
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
        {"HKEY_CURRENT_USER", {{"AtRoot", platform::kRegSz, "r"}}},
        {"HKEY_CURRENT_USER\\Software\\Test",
         {{"", platform::kRegSz, "default"},
          {"Quote\"Back\\\nNew", platform::kRegSz, "C:\\x \"y\""},
          {"Raw", platform::kRegSz, std::string("a\0b\r\n", 5)},
          {"Count", platform::kRegDword, std::string("\x78\x56\x34\x12", 4)},
          {"ShortDword", platform::kRegDword, std::string("\x01", 1)},
          {"Long", platform::kRegBinary, std::string(200, '\xAB')},
          {"Empty", platform::kRegBinary, ""},
          {"Odd", 0xFFFFFFFFu, "z"}}},
        {"HKEY_CURRENT_USER\\Software\\Test\\c:/tools/viewer.exe", {}},
    };
    std::string text = WriteRegFile(sections);
    EXPECT_NE(std::string::npos, text.find("\"Count\"=dword:12345678\n"));
    EXPECT_NE(std::string::npos, text.find("\"Raw\"=hex(1):61,00,62,0d,0a\n"));
    EXPECT_NE(std::string::npos, text.find("\"ShortDword\"=hex(4):01\n"));
    EXPECT_NE(std::string::npos, text.find("\"Odd\"=hex(ffffffff):7a\n"));
    // regedit's wrapping: no line longer than 80 characters, 25 bytes per continued line.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_NE(std::string::npos, text.find("\n  " + [] {
        std::string row;
        for (int i = 0; i < 25; ++i) row += "ab,";
        return row + "\\\n";
    }()));

    RegFileParse parse = ParseRegFile(text);
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
            EXPECT_EQ(expected.data, actual.data) << expected.name;
        }
    }
}

}  // namespace
}  // namespace vantrel::reg
