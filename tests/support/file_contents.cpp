// Whole-file reads and writes of the test environment, the same on every system.
#include <fstream>
#include <sstream>

#include "support/test_environment.h"

namespace vantrel::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace vantrel::test
