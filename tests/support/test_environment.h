// Every test runs with its own settings store and runtime folder, in temporary folders, so
// tests never see each other's registry values, instance claims or log files.
#pragma once

#include <string>

namespace vantrel::test {

// A fresh private temporary folder (removed when the test program ends).
std::string MakeTempDir(const std::string& tag);

// A fresh settings store (POSIX: XDG_CONFIG_HOME and XDG_RUNTIME_DIR in new temporary
// folders; Windows: the settings tree deleted) and no faults. Called before each test.
void UseFreshEnvironment();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool PathExists(const std::string& path);  // true for a link, whether or not it leads anywhere

}  // namespace vantrel::test
