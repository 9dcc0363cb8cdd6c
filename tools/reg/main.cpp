// vantrel-reg: the settings editor. Dispatches to the command named first on the line.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "messages.h"
#include "usage.h"

int main(int argc, char** argv) {
    using namespace vantrel::reg;
    std::vector<std::string> words(argv + 1, argv + argc);
    if (WantsHelp(words)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (words.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    Arguments arguments;
    std::string error;
    if (!ParseArguments(words, &arguments, &error)) return Failed(error);
    if (arguments.command == "query") return RunQuery(arguments);
    if (arguments.command == "add") return RunAdd(arguments);
    if (arguments.command == "delete") return RunDelete(arguments);
    if (arguments.command == "export") return RunExport(arguments);
    return RunImport(arguments);
}
