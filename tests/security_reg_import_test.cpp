// Hostile .reg files for the settings editor's import: names with a NUL inside. Names in the
// store are C strings wherever a host or the editor passes them, so an import that took such
// a name would write values and keys that no one can name again.
#if __has_include("reg_file_parser.h")
#include <gtest/gtest.h>

#include <string>

#include "reg_file_parser.h"

namespace vantrel::reg {
namespace {

using namespace std::string_literals;

TEST(HostileImport, NamesWithANulCharacterAreRefused) {
    const RegFileParse value =
        ParseRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\a]\n\"x\0y\"=\"v\"\n"s);
    EXPECT_EQ(value.errorLine, 4) << value.error;
    const RegFileParse key = ParseRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\a\0b]\n\"x\"=\"v\"\n"s);
    EXPECT_EQ(key.errorLine, 3) << key.error;
    EXPECT_TRUE(ParseRegFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\a]\n\"x\"=\"v\"\n"s).ok());
}

}  // namespace
}  // namespace vantrel::reg
#endif
