#include "usage.h"

namespace vantrel::reg {

const char kUsage[] =
    "vantrel-reg: reads and edits the vantrel settings store with the commands of Windows\n"
    "reg.exe, so that instructions written for Windows work unchanged.\n"
    "\n"
    "  vantrel-reg query  KEY [/v NAME | /ve] [/s]\n"
    "  vantrel-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "  vantrel-reg delete KEY [/v NAME | /ve | /va] /f\n"
    "  vantrel-reg export KEY FILE [/y]\n"
    "  vantrel-reg import FILE\n"
    "\n"
    "KEY      HKCU\\path or HKEY_CURRENT_USER\\path (HKCU alone is the root). No other\n"
    "         hive exists here. Names ignore letter case; \"/\" is an ordinary character.\n"
    "/v NAME  the value NAME;  /ve  the unnamed (Default) value;  /va  all values of KEY.\n"
    "/s       query: KEY and all keys below it.  add: the REG_MULTI_SZ item separator\n"
    "         (default: the two characters \\0).\n"
    "/t TYPE  REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "         REG_BINARY, REG_NONE, REG_DWORD_BIG_ENDIAN.\n"
    "/d DATA  REG_DWORD and REG_QWORD: decimal or 0x hex; REG_BINARY: hex digits;\n"
    "         strings are stored with their terminating zero, as reg.exe stores them.\n"
    "/f       add: overwrite an existing value; delete: required, since vantrel-reg\n"
    "         never prompts (reg.exe would ask for confirmation instead).\n"
    "/y       export: overwrite an existing FILE.\n"
    "\n"
    "export writes KEY and every key below it as a .reg file as reg.exe does (\"Windows\n"
    "Registry Editor Version 5.00\", UTF-16LE, CR LF). import reads those and REGEDIT4\n"
    "files, and applies a whole .reg file or, if any line is malformed, nothing of it;\n"
    "[-KEY] deletes a key tree and \"NAME\"=- a value. Text is UTF-8 in the store.\n"
    "Switches may start with \"/\" or \"-\" and ignore letter case; /reg:32 and /reg:64 are\n"
    "accepted and ignored. Exit status: 0 on success, 1 on failure.\n"
    "\n"
    "The store is $XDG_CONFIG_HOME/vantrel/registry.db (~/.config/vantrel/registry.db).\n";

}  // namespace vantrel::reg
