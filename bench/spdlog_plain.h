// The comparison logger of the entry cases: spdlog's single-threaded basic file sink with the
// pattern "%v" and CR LF line ends, so that it writes byte for byte the text vantrel writes
// for the shared message and no date or level that vantrel's entry does not carry.
#pragma once

#include <spdlog/logger.h>

#include <memory>
#include <string>

namespace vantrel::bench {

// A new logger on a fresh file at path; flushEach makes it flush after every message (one
// write(2) each), as a complete file after every call needs.
std::shared_ptr<spdlog::logger> PlainSpdlogLogger(const std::string& path, bool flushEach);

// The shared message, as spdlog formats it.
constexpr char kSpdlogEntryFormat[] = "{} items in frame {}";

}  // namespace vantrel::bench
