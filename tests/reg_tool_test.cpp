// The settings editor vantrel-reg, run as a process on the test's store (it inherits
// XDG_CONFIG_HOME): reg.exe's grammar and output, exit statuses, export and import.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "registry_store.h"
#include "support/reg_tool_runner.h"
#include "support/test_environment.h"
#include "text_encoding.h"

namespace vantrel {
namespace {

using platform::RegistryStore;
using test::MakeTempDir;
using test::PathExists;
using test::ReadFile;
using test::WriteFile;
using ToolRun = test::RegToolRun;
using test::RunRegTool;

const char kDone[] = "The operation completed successfully.\n";

// The text of a UTF-16LE file with its BOM, in the store's code page; "" if it is not one.
std::string Utf16FileText(const std::string& file) {
    std::string raw = ReadFile(file), text;
    size_t bad = 0;
    if (raw.rfind("\xFF\xFE", 0) != 0 || !reg::Utf16LeToStore(raw.substr(2), &text, &bad))
        return "";
    return text;
}

class RegTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::RegToolBuilt()) GTEST_SKIP() << "vantrel-reg not built";
    }

    // Runs a command that must succeed.
    std::string Ok(const std::vector<std::string>& arguments) {
        ToolRun run = RunRegTool(arguments);
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_EQ("", run.err);
        return run.out;
    }

    // Runs a command that must fail with one line on stderr containing `fragment`.
    void Fails(const std::vector<std::string>& arguments, const std::string& fragment) {
        ToolRun run = RunRegTool(arguments);
        std::string joined;
        for (const std::string& argument : arguments) joined += argument + " ";
        EXPECT_EQ(1, run.exitCode) << joined;
        EXPECT_EQ("", run.out) << joined;
        EXPECT_EQ(0u, run.err.rfind("ERROR: ", 0)) << joined << ": " << run.err;
        EXPECT_NE(std::string::npos, run.err.find(fragment)) << joined << ": " << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }

    std::string QueryAll() { return Ok({"query", "HKCU", "/s"}); }

    // A small tree with every kind of value.
    void MakeTree() {
        Ok({"add", "HKCU\\Software\\Test", "/v", "Name", "/d", "Hello, World"});
        Ok({"add", "hkcu\\SOFTWARE\\test", "/v", "Count", "/t", "REG_DWORD", "/d", "0x123"});
        Ok({"add", "HKEY_CURRENT_USER\\Software\\Test\\Sub", "/ve", "/d", "default"});
        Ok({"add", "HKCU\\Software\\Test\\c:/tools/viewer.exe\\proc1"});
        Ok({"add", "HKCU\\Software\\Test\\Sub", "/v", "Bytes", "/t", "REG_BINARY", "/d", "00ff10"});
        Ok({"add", "HKCU\\Software\\Test\\Sub", "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
        Ok({"add", "HKCU\\Software\\Test\\Sub", "/v", "Big", "/t", "REG_QWORD", "/d",
            "4294967296"});
        Ok({"add", "HKCU\\Software\\Test\\Sub", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d",
            "%HOME%/x"});
    }
};

TEST_F(RegTool, AddAndQueryPrintAsRegExe) {
    MakeTree();
    EXPECT_EQ(
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\n"
        "    Name    REG_SZ    Hello, World\n"
        "    Count    REG_DWORD    0x123\n"
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\\c:/tools/viewer.exe\n"
        "HKEY_CURRENT_USER\\Software\\Test\\Sub\n",
        Ok({"query", "hkcu\\software\\TEST"}));
    EXPECT_EQ(
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\n"
        "    Name    REG_SZ    Hello, World\n"
        "    Count    REG_DWORD    0x123\n"
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\\c:/tools/viewer.exe\n"
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\\c:/tools/viewer.exe\\proc1\n"
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\\Sub\n"
        "    (Default)    REG_SZ    default\n"
        "    Bytes    REG_BINARY    00FF10\n"
        "    List    REG_MULTI_SZ    a\\0b\n"
        "    Big    REG_QWORD    0x100000000\n"
        "    Path    REG_EXPAND_SZ    %HOME%/x\n"
        "\n",
        Ok({"query", "HKCU\\Software\\Test", "/s"}));
    // A key without values is not named itself, unless /s reached it.
    EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Test\n", Ok({"query", "HKCU\\Software"}));
    EXPECT_EQ("\n", Ok({"query", "HKCU\\Software\\Test\\C:/TOOLS/VIEWER.EXE\\proc1"}));
    EXPECT_EQ(Ok({"query", "HKCU\\Software\\Test", "/s"}), Ok({"query", "HKCU\\Software", "/s"}));
}

TEST_F(RegTool, QueryOfAFreshStoreShowsAnEmptyRoot) {
    EXPECT_EQ("\n", Ok({"query", "HKCU"}));
    EXPECT_EQ("\n", Ok({"query", "HKEY_CURRENT_USER\\", "/s"}));
}

TEST_F(RegTool, QueryOneValue) {
    MakeTree();
    EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Test\n    Count    REG_DWORD    0x123\n\n",
              Ok({"query", "HKCU\\Software\\Test", "/v", "COUNT"}));
    EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n    (Default)    REG_SZ    default\n\n",
              Ok({"query", "HKCU\\Software\\Test\\Sub", "/ve"}));
    EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Test\n    (Default)    REG_SZ    (value not set)\n",
              Ok({"query", "HKCU\\Software\\Test", "-VE"}));
    EXPECT_EQ(
        "\n"
        "HKEY_CURRENT_USER\\Software\\Test\\Sub\n"
        "    (Default)    REG_SZ    default\n"
        "\n"
        "End of search: 1 match(es) found.\n",
        Ok({"query", "HKCU\\Software", "/ve", "/s"}));
    Fails({"query", "HKCU\\Software\\Test", "/v", "Missing"}, "unable to find");
}

TEST_F(RegTool, QueryRefusesMissingKeysOtherHivesAndBadSyntax) {
    Fails({"query", "HKCU\\Nothing\\Here"}, "unable to find the specified registry key");
    Fails({"query", "HKLM\\Software"}, "Only HKEY_CURRENT_USER");
    Fails({"query", "HKEY_LOCAL_MACHINE\\Software"}, "Only HKEY_CURRENT_USER");
    Fails({"query", "\\\\server\\HKCU\\x"}, "Remote machines");
    Fails({"query", "Software\\Test"}, "must start with HKCU");
    Fails({"query", "HKCU\\\\Software"}, "Invalid key name");
    Fails({"query", "HKCU\\Software", "/x"}, "unexpected argument");
    Fails({"query", "HKCU\\Software", "/f"}, "not a switch of query");
    Fails({"query"}, "missing operand");
    Fails({"query", "HKCU", "/v"}, "needs a value");
    Fails({"query", "HKCU", "/v", "a", "/ve"}, "only one of");
    Fails({"frobnicate", "HKCU"}, "unknown command");
}

TEST_F(RegTool, DwordDataIsDecimalOrHexAndRangeChecked) {
    Ok({"add", "HKCU\\N", "/v", "Dec", "/t", "reg_dword", "/d", "4294967295"});
    Ok({"add", "HKCU\\N", "-v", "Hex", "-T", "REG_DWORD", "-D", "0XfF"});
    Ok({"add", "HKCU\\N", "/v", "Zero", "/t", "REG_DWORD", "/d", "0"});
    Ok({"add", "HKCU\\N", "/v", "BigEndian", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "1"});
    EXPECT_EQ(
        "\n"
        "HKEY_CURRENT_USER\\N\n"
        "    Dec    REG_DWORD    0xffffffff\n"
        "    Hex    REG_DWORD    0xff\n"
        "    Zero    REG_DWORD    0x0\n"
        "    BigEndian    REG_DWORD_BIG_ENDIAN    0x1\n"
        "\n",
        Ok({"query", "HKCU\\N"}));
    for (const char* bad : {"4294967296", "-1", "0x1FFFFFFFF", "12a", "0x", "", " 1", "1.5"}) {
        Fails({"add", "HKCU\\N", "/v", "Bad", "/t", "REG_DWORD", "/d", bad},
              "Invalid REG_DWORD data");
    }
    Fails({"add", "HKCU\\N", "/v", "Bad", "/t", "REG_QWORD", "/d", "18446744073709551616"},
          "Invalid REG_QWORD data");
    Fails({"add", "HKCU\\N", "/v", "Bad", "/t", "REG_DWORD"}, "needs /d");
    // Nothing of a refused add was written, not even its key.
    Fails({"add", "HKCU\\Refused", "/v", "Bad", "/t", "REG_DWORD", "/d", "x"}, "Invalid REG_DWORD");
    Fails({"query", "HKCU\\Refused"}, "unable to find");
}

TEST_F(RegTool, BadTypesAndDataAreRefused) {
    Fails({"add", "HKCU\\T", "/v", "x", "/t", "REG_FOO", "/d", "1"}, "Invalid type \"REG_FOO\"");
    Fails({"add", "HKCU\\T", "/v", "x", "/t", "REG_LINK", "/d", "1"}, "Invalid type");
    Fails({"add", "HKCU\\T", "/v", "x", "/t", "REG_BINARY", "/d", "0g"}, "Invalid REG_BINARY data");
    Fails({"add", "HKCU\\T", "/v", "x", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, "item is empty");
    Fails({"add", "HKCU\\T", "/v", "x", "/s", ",", "/d", "a,b"}, "only for REG_MULTI_SZ");
    Fails({"add", "HKLM\\T", "/v", "x"}, "Only HKEY_CURRENT_USER");
    Fails({"query", "HKCU\\T"}, "unable to find");
}

// What `add` stores is what the library reads on Windows after reg.exe stored the same.
TEST_F(RegTool, StoredBytesAreWhatTheLibraryReads) {
    struct Row {
        const char* fault;
        std::vector<std::string> typeAndData;
        uint32_t type;
        std::string bytes;
    };
    const Row rows[] = {
        {"REG_SZ without its zero (IndentSize 7 read as 0xffffff37)",
         {"/t", "REG_SZ", "/d", "7"},
         platform::kRegSz,
         std::string("7\0", 2)},
        {"REG_EXPAND_SZ without its zero",
         {"/t", "reg_expand_sz", "/d", "%PATH%;x"},
         platform::kRegExpandSz,
         std::string("%PATH%;x\0", 9)},
        {"an empty REG_SZ without its zero", {}, platform::kRegSz, std::string("\0", 1)},
        {"REG_NONE not stored as reg.exe's UTF-16 string",
         {"/t", "REG_NONE", "/d", "ab"},
         platform::kRegNone,
         std::string("a\0b\0\0\0", 6)},
        {"REG_DWORD not little-endian",
         {"/t", "REG_DWORD", "/d", "5"},
         platform::kRegDword,
         std::string("\x05\x00\x00\x00", 4)},
        {"an odd first hex digit not a byte of its own",
         {"/t", "REG_BINARY", "/d", "abc"},
         platform::kRegBinary,
         "\x0a\xbc"},
        {"REG_MULTI_SZ items or separator lost",
         {"/t", "REG_MULTI_SZ", "/s", ",", "/d", "x,yz"},
         platform::kRegMultiSz,
         std::string("x\0yz\0\0", 6)},
    };
    for (const Row& row : rows) {
        std::vector<std::string> arguments = {"add", "HKCU\\Lib", "/v", "V", "/f"};
        arguments.insert(arguments.end(), row.typeAndData.begin(), row.typeAndData.end());
        Ok(arguments);
        RegistryStore store;
        ASSERT_EQ(0, store.Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadOnly));
        int64_t key;
        RegistryStore::Value value;
        ASSERT_EQ(0, store.OpenKey("lib", &key));
        ASSERT_EQ(0, store.GetValue(key, "V", &value));
        EXPECT_EQ(row.type, value.type) << row.fault;
        EXPECT_EQ(row.bytes, value.data) << row.fault;
    }
}

TEST_F(RegTool, AddOverwritesOnlyWithForce) {
    Ok({"add", "HKCU\\K", "/v", "v", "/d", "first"});
    Fails({"add", "HKCU\\K", "/v", "V", "/d", "second"}, "add /f to overwrite");
    EXPECT_EQ("\nHKEY_CURRENT_USER\\K\n    v    REG_SZ    first\n\n",
              Ok({"query", "HKCU\\K", "/v", "v"}));
    EXPECT_EQ(kDone, Ok({"add", "HKCU\\K", "/v", "V", "/t", "REG_DWORD", "/d", "2", "/F"}));
    EXPECT_EQ("\nHKEY_CURRENT_USER\\K\n    v    REG_DWORD    0x2\n\n",
              Ok({"query", "HKCU\\K", "/v", "v"}));
    // A key that exists already is no conflict.
    EXPECT_EQ(kDone, Ok({"add", "HKCU\\K"}));
}

TEST_F(RegTool, DeleteNeedsForceAndRemovesWhatItNames) {
    MakeTree();
    Fails({"delete", "HKCU\\Software\\Test", "/v", "Name"}, "needs /f");
    Fails({"delete", "HKCU\\Software\\Test"}, "needs /f");
    EXPECT_EQ(kDone, Ok({"delete", "HKCU\\Software\\Test", "/v", "name", "/f"}));
    Fails({"delete", "HKCU\\Software\\Test", "/v", "Name", "/f"}, "unable to find");
    EXPECT_EQ(kDone, Ok({"delete", "HKCU\\Software\\Test\\Sub", "/ve", "/f"}));
    Fails({"delete", "HKCU\\Software\\Test\\Sub", "/ve", "/f"}, "unable to find");
    EXPECT_EQ(kDone, Ok({"delete", "HKCU\\Software\\Test\\Sub", "/va", "/f"}));
    EXPECT_EQ("\n", Ok({"query", "HKCU\\Software\\Test\\Sub"}));
    EXPECT_EQ(kDone, Ok({"delete", "hkcu\\software\\test", "/f"}));
    Fails({"query", "HKCU\\Software\\Test"}, "unable to find");
    Fails({"query", "HKCU\\Software\\Test\\Sub"}, "unable to find");
    Fails({"delete", "HKCU\\Software\\Test", "/f"}, "unable to find");
    Fails({"delete", "HKCU", "/f"}, "cannot be deleted");
}

TEST_F(RegTool, ExportWritesRegeditFormat) {
    Ok({"add", "HKCU\\Ex", "/v", "Text", "/d", "C:\\dir \"quoted\""});
    Ok({"add", "HKCU\\Ex", "/v", "Count", "/t", "REG_DWORD", "/d", "3"});
    Ok({"add", "HKCU\\Ex", "/ve", "/d", "default"});
    Ok({"add", "HKCU\\Ex\\Sub", "/v", "Bin", "/t", "REG_BINARY", "/d", std::string(60, '1')});
    Ok({"add", "HKCU\\Ex\\Sub", "/v", "Q", "/t", "REG_QWORD", "/d", "1"});
    Ok({"add", "HKCU\\Ex\\Sub", "/v", "None", "/t", "REG_NONE"});
    Ok({"add", "HKCU\\Ex\\Sub", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%A%"});
    Ok({"add", "HKCU\\Ex\\Sub", "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
    std::string file = MakeTempDir("export") + "/ex.reg";
    EXPECT_EQ(kDone, Ok({"export", "hkcu\\ex", file}));
    // reg.exe's file: UTF-16LE with its BOM, CR LF, string data in UTF-16LE.
    EXPECT_EQ(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Ex]\r\n"
        "\"Text\"=\"C:\\\\dir \\\"quoted\\\"\"\r\n"
        "\"Count\"=dword:00000003\r\n"
        "@=\"default\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Ex\\Sub]\r\n"
        "\"Bin\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
        "  11,11,11,11,11,11,11\r\n"
        "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"None\"=hex(0):00,00\r\n"
        "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\r\n",
        Utf16FileText(file));
    // An existing file is kept unless /y says otherwise.
    Fails({"export", "HKCU\\Ex\\Sub", file}, "add /y to overwrite");
    EXPECT_EQ(kDone, Ok({"export", "HKCU\\Ex\\Sub", file, "/y"}));
    EXPECT_EQ(0u,
              Utf16FileText(file).find(
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Ex\\Sub]\r\n"));
    Fails({"export", "HKCU\\Missing", file + ".2"}, "unable to find");
    EXPECT_FALSE(PathExists(file + ".2"));
    Fails({"export", "HKCU\\Ex", "/nonexistent-folder/x.reg"}, "Cannot write");
}

TEST_F(RegTool, ExportWipeImportGivesTheSameStore) {
    MakeTree();
    Ok({"add", "HKCU\\Software\\Test\\Sub", "/v", "Nul", "/t", "REG_SZ", "/d", ""});
    Ok({"add", "HKCU", "/v", "AtRoot", "/d", "root value"});
    Ok({"add", "HKCU\\Software\\Test", "/v", "Long", "/t", "REG_BINARY", "/d",
        std::string(400, 'a')});
    {
        // Bytes no .reg string can hold come back through hex(1); bytes that are no UTF-8
        // through their stand-ins.
        RegistryStore store;
        ASSERT_EQ(0, store.Open(RegistryStore::DefaultPath(), RegistryStore::Mode::ReadWrite));
        int64_t key;
        ASSERT_EQ(0, store.OpenKey("Software\\Test", &key));
        const std::string odd("line\nbreak\0zero\r\xE9", 17);
        ASSERT_EQ(0, store.SetValue(key, "Odd \"name\"\\ \xE9 caf\xC3\xA9", platform::kRegSz,
                                    odd.data(), odd.size()));
        ASSERT_EQ(0, store.SetValue(key, "Type", 0x12345678, "x", 1));
    }
    std::string before = QueryAll();
    std::string file = MakeTempDir("roundtrip") + "/all.reg";
    Ok({"export", "HKCU", file});
    Ok({"delete", "HKCU\\Software", "/f"});
    Ok({"delete", "HKCU", "/va", "/f"});
    EXPECT_EQ("\n", QueryAll());
    EXPECT_EQ(kDone, Ok({"import", file}));
    EXPECT_EQ(before, QueryAll());
    // Exported again, the file is the same too.
    std::string again = file + ".again";
    Ok({"export", "HKCU", again});
    EXPECT_EQ(ReadFile(file), ReadFile(again));
}

TEST_F(RegTool, ImportAppliesDeletionsAndAcceptsWindowsFiles) {
    Ok({"add", "HKCU\\Gone\\Deep", "/v", "x", "/d", "1"});
    Ok({"add", "HKCU\\Kept", "/v", "old", "/d", "1"});
    Ok({"add", "HKCU\\Kept", "/v", "stays", "/d", "1"});
    std::string file = MakeTempDir("import") + "/in.reg";
    // As reg.exe exports it: UTF-16LE, and so is the data of hex(2) and hex(7).
    WriteFile(file, "\xFF\xFE" +
                        reg::StoreToUtf16Le(
                            "Windows Registry Editor Version 5.00\r\n"
                            "\r\n"
                            "; a comment\r\n"
                            "[-HKEY_CURRENT_USER\\Gone]\r\n"
                            "[-HKEY_CURRENT_USER\\Never\\Was]\r\n"
                            "\r\n"
                            "[HKEY_CURRENT_USER\\Kept]\r\n"
                            "\"old\"=-\r\n"
                            "\"absent\"=-\r\n"
                            "\"new\"=dword:0000000a\r\n"
                            "@=\"d\"\r\n"
                            "\"path\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,3b,00,78,00,\\\r\n"
                            "  00,00\r\n"
                            "\"list\"=hex(7):61,00,00,00,62,00,00,00,63,00,00,00,00,00\r\n"));
    EXPECT_EQ(kDone, Ok({"import", file}));
    Fails({"query", "HKCU\\Gone"}, "unable to find");
    EXPECT_EQ(
        "\n"
        "HKEY_CURRENT_USER\\Kept\n"
        "    stays    REG_SZ    1\n"
        "    new    REG_DWORD    0xa\n"
        "    (Default)    REG_SZ    d\n"
        "    path    REG_EXPAND_SZ    %PATH%;x\n"
        "    list    REG_MULTI_SZ    a\\0b\\0c\n"
        "\n",
        Ok({"query", "HKCU\\Kept"}));
}

TEST_F(RegTool, ABrokenRegFileChangesNothingAndNamesItsLine) {
    MakeTree();
    std::string before = QueryAll();
    std::string file = MakeTempDir("broken") + "/broken.reg";
    WriteFile(file,
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[-HKEY_CURRENT_USER\\Software\\Test]\n"
              "[HKEY_CURRENT_USER\\New]\n"
              "\"a\"=dword:00000001\n"
              "\"b\"=hex:01,zz\n"
              "\"c\"=\"later\"\n");
    ToolRun run = RunRegTool({"import", file});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("line 6: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("nothing was imported")) << run.err;
    EXPECT_EQ(before, QueryAll());
    // A line the store refuses when applying is named too, and also rolls back everything.
    WriteFile(file,
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CURRENT_USER\\New]\n"
              "\"a\"=dword:00000001\n"
              "[-HKEY_CURRENT_USER]\n");
    run = RunRegTool({"import", file});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("line 5: ")) << run.err;
    EXPECT_EQ(before, QueryAll());
    Fails({"import", file + ".missing"}, "Cannot read");
}

TEST_F(RegTool, UnusableStoresFailWithAMessage) {
    MakeTree();
    std::string path = RegistryStore::DefaultPath();
    {
        // Locked: another connection holds the write lock past the busy time-out.
        RegistryStore holder;
        ASSERT_EQ(0, holder.Open(path, RegistryStore::Mode::ReadWrite));
        ASSERT_EQ(0, holder.Begin());
        Fails({"add", "HKCU\\Locked", "/v", "x", "/d", "1"}, "locked by another process");
        holder.Rollback();
    }
    // Corrupt: every command says so and exits 1.
    WriteFile(path, std::string(5000, '?'));
    Fails({"query", "HKCU"}, "is damaged");
    Fails({"add", "HKCU\\X"}, "is damaged");
    Fails({"delete", "HKCU\\X", "/f"}, "is damaged");
    Fails({"export", "HKCU", MakeTempDir("corrupt") + "/x.reg"}, "is damaged");
}

TEST_F(RegTool, HelpAndUsage) {
    for (const char* help : {"/?", "--help", "-?"}) {
        ToolRun run = RunRegTool({help});
        EXPECT_EQ(0, run.exitCode);
        EXPECT_NE(std::string::npos, run.out.find("vantrel-reg query  KEY")) << help;
        EXPECT_NE(std::string::npos, run.out.find("never prompts"));
    }
    EXPECT_EQ(0, RunRegTool({"add", "/?"}).exitCode);
    ToolRun bare = RunRegTool({});
    EXPECT_EQ(1, bare.exitCode);
    EXPECT_NE(std::string::npos, bare.err.find("vantrel-reg import FILE"));
}

}  // namespace
}  // namespace vantrel
