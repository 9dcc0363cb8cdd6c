// Values in the settings store (keys below HKEY_CURRENT_USER) through the library's own registry
// calls: to arrange a test's settings and to read what the library recorded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::test {

// Creates the key when needed; a failure fails the calling test.
void PutValue(const std::string& keyPath, const char* name, uint32_t type, const void* data,
              uint32_t size);
void PutLogSetting(const std::string& instancePath, const std::string& logName, const char* name,
                   uint32_t value);
// Of the defaults new logs copy; then lets go of the store, so a host started next need not wait.
void PutDefaultSetting(const char* name, uint32_t value);
// The value's bytes, or nothing when the key or the value is missing.
std::optional<std::string> GetValue(const std::string& keyPath, const char* name);

}  // namespace vantrel::test
