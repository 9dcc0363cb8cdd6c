// The command line in reg.exe's grammar: a command, its operands and its switches.
// Switches are recognised without regard to letter case, with "/" or "-" in front.
#pragma once

#include <string>
#include <vector>

namespace vantrel::reg {

struct Arguments {
    std::string command;                // "query", "add", "delete", "export" or "import"
    std::vector<std::string> operands;  // KEY, or KEY FILE, or FILE
    bool hasValueName = false;          // /v NAME
    std::string valueName;
    bool defaultValue = false;  // /ve
    bool allValues = false;     // /va
    bool recurse = false;       // /s of query
    bool force = false;         // /f
    bool overwrite = false;     // /y
    bool hasType = false;       // /t TYPE
    std::string type;
    bool hasData = false;  // /d DATA
    std::string data;
    bool hasSeparator = false;  // /s CHAR of add
    std::string separator;
};

// True when the user asks for help (/?, -?, -h, --help anywhere).
bool WantsHelp(const std::vector<std::string>& words);

// Parses the words after the program name. False with a one-line reason on bad usage.
bool ParseArguments(const std::vector<std::string>& words, Arguments* arguments,
                    std::string* error);

}  // namespace vantrel::reg
