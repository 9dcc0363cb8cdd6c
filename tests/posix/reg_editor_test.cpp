// The settings editor vantrel-reg: its .reg parser, and the program with reg.exe's grammar
// and output on the test's store (it inherits XDG_CONFIG_HOME).
#include "arguments.h"
#include "posix/posix_fixture.h"
#include "reg_file_parser.h"
#include "text_encoding.h"

namespace vantrel::reg {
namespace {

using namespace std::string_literals;
using namespace test;
using platform::RegistryStore;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kSection = kHeader + "[HKCU\\K]\n";

constexpr auto Wide = StoreToUtf16Le;

// A UTF-16LE file as reg.exe writes it: the value "v" of key K; data already in UTF-16LE.
std::string Utf16File(const std::string& data) {
    return "\xFF\xFE" + Wide("Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\K]\r\n\"v\"=") +
           data + Wide("\r\n");
}

// "<line>:<operation>;" per operation, or "E<line> <message>" ("E<line>+" with operations).
std::string Render(const RegFileParse& parse) {
    if (!parse.ok())
        return "E" + std::to_string(parse.errorLine) + (parse.operations.empty() ? " " : "+ ") +
               parse.error;
    std::string text;
    using Kind = RegFileOperation::Kind;
    for (const RegFileOperation& op : parse.operations)
        text += std::to_string(op.line) + ":" +
                (op.kind == Kind::CreateKey   ? "[" + op.keyPath + "]"
                 : op.kind == Kind::DeleteKey ? "[-" + op.keyPath + "]"
                 : op.kind == Kind::DeleteValue
                     ? op.valueName + "=-"
                     : op.valueName + "=" + std::to_string(op.type) + ":" + op.data) +
                ";";
    return text;
}

TEST(RegFileParser, ReadsWhatEachKindOfFileMeansOrNamesTheBadLine) {
    // expected: the rendered parse, or for errors "E<line> <part of the message>".
    // clang-format off
    const struct { const char* fault; std::string file; std::string expected; } rows[] = {
        {"escapes or the string's zero lost", kSection + "\"T\"=\"C:\\\\d \\\"q\\\"\"\n", "3:[K];4:T=1:C:\\d \"q\"\0;"s},
        {"dword not little-endian", kSection + "  \"N\" = dword:1F\n", "3:[K];4:N=4:\x1f\0\0\0;"s},
        {"@ not the default value", kSection + "@=\"d\"\n@=-\n", "3:[K];4:=1:d\0;5:=-;"s},
        {"hex types or empty data misread", kSection + "\"B\"=hex:00,ff\n\"N\"=hex(0):\n\"O\"=hex(12345678):7a\n", "3:[K];4:B=3:\0\xff;5:N=0:;6:O=305419896:z;"s},
        {"continued hex lines or loose spacing misread", kSection + "\"L\"=hex:01,02,\\\n  03,\\\n\t 0a , b\n\"A\"=-\n", "3:[K];4:L=3:\x01\x02\x03\x0a\x0b;7:A=-;"s},
        {"key deletion, case or '/' in names misread", kHeader + "[-HKEY_CURRENT_USER\\Old\\Tree]\n[hkcu\\c:/tools/v.exe]\n", "3:[-Old\\Tree];4:[c:/tools/v.exe];"},
        {"hex(2) of a 5.00 file cut at its first zero byte", Utf16File(Wide("hex(2):25,00,50,00,25,00,3b,00,78,00,00,00")), "3:[K];4:v=2:%P%;x\0;"s},
        {"hex(7) of a 5.00 file cut after its first item", Utf16File(Wide("hex(7):61,00,00,00,62,00,00,00,00,00")), "3:[K];4:v=7:a\0b\0\0;"s},
        {"characters beyond Latin-1 refused, not stored as UTF-8", Utf16File(Wide("\"") + "\x3A\x26\x3D\xD8\x00\xDE"s + Wide("\"")), "3:[K];4:v=1:\xE2\x98\xBA\xF0\x9F\x98\x80\0;"s},
        {"8-bit 5.00 hex data taken for UTF-16 (an earlier export)", "\xEF\xBB\xBF" + kSection + "\"v\"=hex(7):41,42,00,00\n", "3:[K];4:v=7:AB\0\0;"s},
        {"UTF-16 REGEDIT4 hex data taken for 8-bit", "\xFF\xFE" + Wide("REGEDIT4\r\n\r\n[HKCU\\K]\r\n\"v\"=hex(7):41,00,00,00\r\n"), "3:[K];4:v=7:A\0;"s},
        {"odd UTF-16 data stored cut", Utf16File(Wide("hex(2):41,00,42")), "E4 hex(2) data of a UTF-16 file is UTF-16LE"},
                {"a lone surrogate in text", Utf16File(Wide("\"") + "\x00\xD8"s + Wide("\"")), "E4 the UTF-16 text holds a lone surrogate"},
        {"half a character at the end", Utf16File("") + "A", "E5 the UTF-16 text ends in half a character"},
                        {"another header taken", "REGEDIT5\n", "E1 not a registry file"},
        {"a value outside a section", kHeader + "\"v\"=\"x\"\n", "E3 a value outside a key section"},
        {"another hive", kHeader + "[HKLM\\Software]\n", "E3 Only HKEY_CURRENT_USER"},
        {"a NUL in a key name", kHeader + "[HKCU\\a\0b]\n"s, "E3 Invalid key name"},
        {"a NUL in a value name", kSection + "\"x\0y\"=\"v\"\n"s, "E4 value name: a NUL"},
        {"the wrong line of continued data named", kSection + "\"v\"=hex:01,\\\n 02,\\\n zz\n", "E6 bad hex byte"},
        {"data unfinished at the end", kSection + "\"v\"=hex:01,\\\n", "E4 the file ends inside continued hex data"},
        {"good lines before an error applied", kSection + "\"a\"=\"1\"\n\"b\"=hex:zz\n", "E5 bad hex byte"},
    };
    // Lines each refused at their place: a section or a value line that is taken would be stored.
    const char* badLines[] = {"[HKCU\\K", "[HKCU\\K] junk", "[HKCU\\\\K]", "\"v\"=\"x", "\"v\"=\"C:\\dir\"",
        "\"v\"=\"x\" y", "\"v\"\"x\"", "\"v\"=dword:", "\"v\"=dword:123456789", "\"v\"=hex:01,,02",
        "\"v\"=hex:01,02,", "\"v\"=hex(x):01", "\"v\"=hex(123456789):01", "\"v\"=qword:1", "garbage"};
    // clang-format on
    for (const auto& row : rows) {  // an error's message is checked by its start
        const std::string got = Render(ParseRegFile(row.file));
        EXPECT_EQ(row.expected, row.expected[0] == 'E' ? got.substr(0, row.expected.size()) : got)
            << row.fault;
    }
    for (const char* line : badLines)
        EXPECT_EQ(0u, Render(ParseRegFile(kSection + line + "\n")).rfind("E4 ", 0)) << line;
}

class RegTool : public ::testing::Test {
  protected:
    // A command line that must succeed; its output.
    std::string Ok(const std::string& line) {
        const RegToolRun run = RunRegTool(line);
        EXPECT_TRUE(run.exitCode == 0 && run.err.empty()) << line << ": " << run.err;
        return run.out;
    }
    // A command that must fail with one "ERROR: " line holding `fragment`, changing nothing.
    void Fails(const std::string& line, const std::string& fragment) {
        const std::string before = QueryAll();
        const RegToolRun run = RunRegTool(line);
        EXPECT_TRUE(run.exitCode == 1 && run.out.empty() && run.err.rfind("ERROR: ", 0) == 0 &&
                    Has(run.err, fragment) && CountOf(run.err, "\n") == 1)
            << line << ": " << run.exitCode << " " << run.out << run.err;
        EXPECT_EQ(before, QueryAll()) << line << ": a refused command changed the store";
    }
    std::string QueryAll() { return RunRegTool("query HKCU /s").out; }
    void MakeTree() {
        for (const char* line : {"add HKCU\\Software\\Test /v Name /d Hello,~World",
                                 "add hkcu\\SOFTWARE\\test /v Count /t REG_DWORD /d 0x123",
                                 "add HKEY_CURRENT_USER\\Software\\Test\\Sub /ve /d default",
                                 "add HKCU\\Software\\Test\\c:/tools/viewer.exe\\proc1",
                                 "add HKCU\\Software\\Test\\Sub /v Bytes /t REG_BINARY /d 00ff10",
                                 "add HKCU\\Software\\Test\\Sub /v List /t REG_MULTI_SZ /d a\\0b",
                                 "add HKCU\\Software\\Test\\Sub /v Big /t REG_QWORD /d 4294967296",
                                 "add HKCU\\Software\\Test\\Sub /v Path /t REG_EXPAND_SZ /d %H%"})
            Ok(line);
    }
};

const char kDone[] = "The operation completed successfully.\n";
const std::string kTest = "\nHKEY_CURRENT_USER\\Software\\Test\n";
const std::string kTestValues =
    kTest + "    Name    REG_SZ    Hello, World\n    Count    REG_DWORD    0x123\n\n";
const std::string kViewer = "HKEY_CURRENT_USER\\Software\\Test\\c:/tools/viewer.exe\n";
const std::string kSub = "\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n";
const std::string kN = "\nHKEY_CURRENT_USER\\N\n";

// One script on one store: each row a command and reg.exe's exact output, or its refusal.
TEST_F(RegTool, CommandsPrintAsRegExeAndRefusalsChangeNothing) {
    EXPECT_EQ("\n", Ok("query HKCU"));
    MakeTree();
    // clang-format off
    const std::pair<const char*, std::string> rows[] = {
        {"query hkcu\\software\\TEST", kTestValues + kViewer + "HKEY_CURRENT_USER\\Software\\Test\\Sub\n"},
        {"query HKCU\\Software\\Test /s", kTestValues + kViewer + "\n" + kViewer.substr(0, kViewer.size() - 1) +
             "\\proc1\n" + kSub + "    (Default)    REG_SZ    default\n    Bytes    REG_BINARY    00FF10\n"
             "    List    REG_MULTI_SZ    a\\0b\n    Big    REG_QWORD    0x100000000\n"
             "    Path    REG_EXPAND_SZ    %H%\n\n"},
        {"query HKCU\\Software", kTest},  // a key without values is not named itself
        {"query HKCU\\Software\\Test\\C:/TOOLS/VIEWER.EXE\\proc1", "\n"},
        {"query HKCU\\Software\\Test /v COUNT", kTest + "    Count    REG_DWORD    0x123\n\n"},
        {"query HKCU\\Software\\Test -VE", kTest + "    (Default)    REG_SZ    (value not set)\n"},
        {"query HKCU\\Software /ve /s", kSub + "    (Default)    REG_SZ    default\n\n"
                                               "End of search: 1 match(es) found.\n"},
        {"query HKCU\\Nothing", "ERRORunable to find the specified registry key"},
        {"query HKLM\\Software", "ERROROnly HKEY_CURRENT_USER"},
        {"query HKCU\\\\Software", "ERRORInvalid key name"},
        {"query HKCU\\Software /x", "ERRORunexpected argument"},
        {"query", "ERRORmissing operand"},
        {"frobnicate HKCU", "ERRORunknown command"},
        {"query \\\\srv\\HKCU", "ERRORRemote machines"},
        {"query Software\\Test", "ERRORmust start with HKCU"},
        {"query HKCU /y", "ERROR/y is not a switch of query"},
        {"add HKCU\\R /v a /V b", "ERROR/V is given twice"},
        {"add HKCU\\R /v", "ERROR/v needs a value"},
        {"add HKCU\\R /t REG_MULTI_SZ /s ab /d x", "ERRORa single character"},
        {"delete HKCU\\Software\\Test /v Name /va /f", "ERRORonly one of"},
        {"add HKCU\\N /v Dec /t reg_dword /d 4294967295", kDone},
        {"add HKCU\\N -v Hex -T REG_DWORD -D 0XfF", kDone},
        {"add HKCU\\N /v BE /t REG_DWORD_BIG_ENDIAN /d 1", kDone},
        {"add HKCU\\N /v Hex /d x", "ERRORadd /f to overwrite"},
        {"add HKCU\\N /v hex /d x /F", kDone},  // replaced: name and place kept
        {"query HKCU\\N", kN + "    Dec    REG_DWORD    0xffffffff\n    Hex    REG_SZ    x\n"
                               "    BE    REG_DWORD_BIG_ENDIAN    0x1\n\n"},
        {"add HKCU\\N", kDone},
        {"add HKCU\\R /v B /t REG_DWORD /d 4294967296", "ERRORInvalid REG_DWORD"},
        {"add HKCU\\R /v B /t REG_DWORD /d ~1", "ERRORInvalid REG_DWORD"},
        {"add HKCU\\R /v B /t REG_QWORD /d 18446744073709551616", "ERRORInvalid REG_QWORD"},
        {"add HKCU\\R /v x /t REG_FOO /d 1", "ERRORInvalid type \"REG_FOO\""},
        {"add HKCU\\R /v x /t REG_BINARY /d 0g", "ERRORInvalid REG_BINARY"},
        {"add HKCU\\R /v x /t REG_MULTI_SZ /d a\\0\\0b", "ERRORitem is empty"},
        {"delete HKCU\\Software\\Test /v Name", "ERRORneeds /f"},
        {"delete HKCU\\Software\\Test /v name /f", kDone},
        {"delete HKCU\\Software\\Test\\Sub /ve /f", kDone},
        {"delete HKCU\\Software\\Test\\Sub /va /f", kDone},
        {"query HKCU\\Software\\Test\\Sub", "\n"},
        {"add HKCU\\Software\\Testing", kDone},
        {"delete hkcu\\software\\test /f", kDone},  // the whole tree, nothing beside it
        {"query HKCU\\Software\\Test\\Sub", "ERRORunable to find"},
        {"query HKCU\\Software", "\nHKEY_CURRENT_USER\\Software\\Testing\n"},
        {"delete HKCU /f", "ERRORcannot be deleted"},
    };
    // clang-format on
    const RegToolRun bare = RunRegTool("");  // usage on the error stream, as a failure
    EXPECT_EQ(1, bare.exitCode);
    EXPECT_EQ(Ok("delete /?"), bare.err);
    Arguments arguments;
    std::string error;
    EXPECT_FALSE(ParseArguments({}, &arguments, &error));
    for (const auto& [line, out] : rows) {
        if (out.rfind("ERROR", 0) == 0) {
            Fails(line, out.substr(5));
        } else {
            EXPECT_EQ(out, Ok(line)) << line;
        }
    }
}

TEST_F(RegTool, ExportWritesRegeditBytesAndImportGivesTheSameStoreBack) {
    for (const std::string& line : std::initializer_list<std::string>{
             "Ex /v Text /d C:\\dir~\"q\"", "Ex /v N /t REG_DWORD /d 3",
             "Ex\\Sub /v None /t REG_NONE /d ab", "Ex\\Sub /v List /t REG_MULTI_SZ /d a\\0b",
             "Ex\\Sub /v Odd /t REG_BINARY /d abc", "Ex\\Sub /v Sep /t REG_MULTI_SZ /s , /d x,yz",
             "Ex\\Sub /v Bin /t REG_BINARY /d " + std::string(60, '1')})
        Ok("add HKCU\\" + line);
    const std::string file = MakeTempDir("export") + "/ex.reg";
    EXPECT_EQ(kDone, Ok("export hkcu\\ex\\sub " + file));
    Fails("export HKCU\\Ex " + file, "add /y to overwrite");
    EXPECT_EQ(kDone, Ok("export hkcu\\ex " + file + " /y /reg:64"));
    std::string text;
    size_t bad = 0;
    EXPECT_EQ(0u, ReadFile(file).rfind("\xFF\xFE", 0));
    EXPECT_TRUE(Utf16LeToStore(ReadFile(file).substr(2), &text, &bad));
    EXPECT_EQ(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Ex]\r\n"
        "\"Text\"=\"C:\\\\dir "
        "\\\"q\\\"\"\r\n\"N\"=dword:00000003\r\n\r\n[HKEY_CURRENT_USER\\Ex\\Sub]\r\n"
        "\"None\"=hex(0):61,00,62,00,00,00\r\n\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\"Odd\"=hex:0a,bc\r\n\"Sep\"=hex(7):78,00,00,00,79,00,7a,00,00,00,00,00\r\n"
        "\"Bin\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
        "  11,11,11,11,11,11,11\r\n\r\n",
        text);
    Fails("export HKCU\\Missing " + file + ".2", "unable to find");
    EXPECT_FALSE(PathExists(file + ".2"));
    Fails("export HKCU\\Ex /nonexistent-folder/x.reg", "Cannot write");

    // Everything back, with bytes no .reg string holds (through hex(1)), bytes that are no
    // UTF-8 (through their stand-ins), long binary data and a value at the root.
    MakeTree();
    Ok("add HKCU /v AtRoot /d root");
    Ok("add HKCU\\Software\\Test /v Long /t REG_BINARY /d " + std::string(400, 'a'));
    // A character beyond U+FFFF, an overlong form and an encoded surrogate: no UTF-8.
    const std::string odd = "line\nbreak\0zero\r\xE9\xF0\x9F\x98\x80\xC0\x80\xED\xA0\x80"s;
    PutValue("Software\\Test", ("Odd \"name\"\\ caf\xC3\xA9" + odd.substr(16)).c_str(),
             platform::kRegSz, odd.data(), odd.size());
    PutValue("Software\\Test", "Type", 0x12345678, "x", 1);
    const std::string before = QueryAll(), all = MakeTempDir("roundtrip") + "/all.reg";
    Ok("export HKCU " + all);
    for (const char* line :
         {"delete HKCU\\Software /f", "delete HKCU\\Ex /f", "delete HKCU /va /f"})
        Ok(line);
    EXPECT_EQ("\n", QueryAll());
    EXPECT_EQ(kDone, Ok("import " + all));
    EXPECT_EQ(before, QueryAll());
    Ok("export HKCU " + all + ".again");
    EXPECT_EQ(ReadFile(all), ReadFile(all + ".again"));
}

TEST_F(RegTool, ImportAppliesWindowsFilesWholeOrNotAtAll) {
    for (const char* key : {"Gone\\Deep /v x", "Kept /v old", "Kept /v stays"})
        Ok("add HKCU\\" + std::string(key) + " /d 1");
    const std::string file = MakeTempDir("import") + "/in.reg";
    WriteFile(file,
              "\xFF\xFE" +
                  StoreToUtf16Le("Windows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
                                 "[-HKEY_CURRENT_USER\\Gone]\r\n[-HKEY_CURRENT_USER\\Never]\r\n"
                                 "\r\n[HKEY_CURRENT_USER\\Kept]\r\n\"old\"=-\r\n\"absent\"=-\r\n"
                                 "\"new\"=dword:0000000a\r\n@=\"d\"\r\n"
                                 "\"path\"=hex(2):25,00,50,00,25,00,3b,00,\\\r\n  78,00,00,00\r\n"
                                 "\"list\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"));
    EXPECT_EQ(kDone, Ok("import " + file));
    EXPECT_EQ(
        "\nHKEY_CURRENT_USER\\Kept\n    stays    REG_SZ    1\n    new    REG_DWORD    0xa\n"
        "    (Default)    REG_SZ    d\n    path    REG_EXPAND_SZ    %P%;x\n"
        "    list    REG_MULTI_SZ    a\\0b\n\n",
        QueryAll());
    // A line the parser or the store refuses is named, and nothing of the file is applied.
    for (const auto& [text, line] :
         {std::pair<std::string, const char*>{
              kSection + "\"a\"=dword:1\n[-HKCU\\Kept]\n\"b\"=hex:zz\n", "line 6: "},
          {kSection + "\"a\"=dword:1\n[-HKEY_CURRENT_USER]\n", "line 5: "},
          {kSection + "\"x\0y\"=\"v\"\n"s, "line 4: "}}) {
        WriteFile(file, text);
        Fails("import " + file, line);
    }
    Fails("import " + file + ".missing", "Cannot read");
    const std::function<void()> release = HoldStore();  // past the busy time-out
    const RegToolRun locked = RunRegTool("add HKCU\\Kept /v x /d 1");
    release();
    EXPECT_EQ(1, locked.exitCode);
    EXPECT_TRUE(Has(locked.err, "locked by another process")) << locked.err;
}

}  // namespace
}  // namespace vantrel::reg
