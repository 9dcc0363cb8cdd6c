// Every test runs with its own settings store and runtime folder, in temporary folders, so
// tests never see each other's registry values, instance claims or log files.
#pragma once

#include <string>

namespace vantrel::test {

// A fresh temporary folder (removed at process exit).
std::string MakeTempDir(const std::string& tag);

// Points XDG_CONFIG_HOME and XDG_RUNTIME_DIR at new temporary folders and drops the
// process's connection to the previous store. Called before each test.
void UseFreshEnvironment();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool PathExists(const std::string& path);

}  // namespace vantrel::test
