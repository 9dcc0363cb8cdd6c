#include "arguments.h"

#include <cstring>

#include "ascii_case.h"

namespace vantrel::reg {

namespace {

enum class Switch {
    None,
    ValueName,
    DefaultValue,
    AllValues,
    Recurse,
    Separator,
    Force,
    Overwrite,
    Type,
    Data,
    View
};

struct CommandGrammar {
    const char* name;
    size_t operands;
    const char* operandText;
    const char* switches;  // the switches it takes, space-separated and space-enclosed
};

constexpr CommandGrammar kCommands[] = {
    {"query", 1, "KEY", " v ve s reg:32 reg:64 "},
    {"add", 1, "KEY", " v ve t s d f reg:32 reg:64 "},
    {"delete", 1, "KEY", " v ve va f reg:32 reg:64 "},
    {"export", 2, "KEY FILE", " y reg:32 reg:64 "},
    {"import", 1, "FILE", " reg:32 reg:64 "},
};

// The switch a word names for this command; None for an operand.
Switch Classify(const CommandGrammar& grammar, bool recurseMeansS, const std::string& word,
                bool* foreign) {
    *foreign = false;
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) return Switch::None;
    std::string name = LowerAscii(word.substr(1));
    static const char* const kAll[] = {"v", "ve", "va", "s",      "t",
                                       "d", "f",  "y",  "reg:32", "reg:64"};
    bool known = false;
    for (const char* each : kAll) known = known || name == each;
    if (!known) return Switch::None;  // e.g. an absolute file name
    if (!std::strstr(grammar.switches, (" " + name + " ").c_str())) {
        *foreign = true;
        return Switch::None;
    }
    if (name == "v") return Switch::ValueName;
    if (name == "ve") return Switch::DefaultValue;
    if (name == "va") return Switch::AllValues;
    if (name == "s") return recurseMeansS ? Switch::Recurse : Switch::Separator;
    if (name == "t") return Switch::Type;
    if (name == "d") return Switch::Data;
    if (name == "f") return Switch::Force;
    if (name == "y") return Switch::Overwrite;
    return Switch::View;  // /reg:32, /reg:64: one registry view here; accepted and ignored
}

}  // namespace

bool WantsHelp(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "/?" || word == "-?" || word == "-h" || word == "--help") return true;
    }
    return false;
}

bool ParseArguments(const std::vector<std::string>& words, Arguments* arguments,
                    std::string* error) {
    *arguments = Arguments();
    if (words.empty()) {
        *error = "Invalid syntax: a command is missing. Type \"vantrel-reg /?\" for usage.";
        return false;
    }
    arguments->command = LowerAscii(words[0]);
    const CommandGrammar* grammar = nullptr;
    for (const CommandGrammar& each : kCommands) {
        if (arguments->command == each.name) grammar = &each;
    }
    if (!grammar) {
        *error = "Invalid syntax: unknown command \"" + words[0] +
                 "\" (query, add, delete, export or import). Type \"vantrel-reg /?\" for usage.";
        return false;
    }
    const std::string usage = " Usage: vantrel-reg " + arguments->command + " " +
                              grammar->operandText + " ...; type \"vantrel-reg /?\" for more.";
    bool seen[static_cast<int>(Switch::View) + 1] = {};
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        bool foreign;
        Switch which = Classify(*grammar, arguments->command == "query", word, &foreign);
        if (foreign) {
            *error = "Invalid syntax: " + word + " is not a switch of " + arguments->command + "." +
                     usage;
            return false;
        }
        if (which == Switch::None) {
            arguments->operands.push_back(word);
            continue;
        }
        if (seen[static_cast<int>(which)] && which != Switch::View) {
            *error = "Invalid syntax: " + word + " is given twice." + usage;
            return false;
        }
        seen[static_cast<int>(which)] = true;
        std::string* operand = nullptr;
        switch (which) {
            case Switch::ValueName:
                arguments->hasValueName = true;
                operand = &arguments->valueName;
                break;
            case Switch::Type:
                arguments->hasType = true;
                operand = &arguments->type;
                break;
            case Switch::Data:
                arguments->hasData = true;
                operand = &arguments->data;
                break;
            case Switch::Separator:
                arguments->hasSeparator = true;
                operand = &arguments->separator;
                break;
            case Switch::DefaultValue:
                arguments->defaultValue = true;
                break;
            case Switch::AllValues:
                arguments->allValues = true;
                break;
            case Switch::Recurse:
                arguments->recurse = true;
                break;
            case Switch::Force:
                arguments->force = true;
                break;
            case Switch::Overwrite:
                arguments->overwrite = true;
                break;
            default:
                break;
        }
        if (operand) {
            // The word after it is taken as it is, even when it starts with "/" or "-".
            if (++i == words.size()) {
                *error = "Invalid syntax: " + word + " needs a value." + usage;
                return false;
            }
            *operand = words[i];
        }
    }
    if (arguments->operands.size() != grammar->operands) {
        *error = std::string("Invalid syntax: ") +
                 (arguments->operands.size() < grammar->operands
                      ? "missing operand."
                      : "unexpected argument \"" + arguments->operands[grammar->operands] + "\".") +
                 usage;
        return false;
    }
    int valueSelectors = arguments->hasValueName + arguments->defaultValue + arguments->allValues;
    if (valueSelectors > 1) {
        *error = "Invalid syntax: use only one of /v, /ve and /va." + usage;
        return false;
    }
    if (arguments->hasSeparator && arguments->separator.size() != 1) {
        *error = "Invalid syntax: the separator of /s must be a single character." + usage;
        return false;
    }
    return true;
}

}  // namespace vantrel::reg
