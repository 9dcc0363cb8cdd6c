#include "spdlog_plain.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>

namespace vantrel::bench {

std::shared_ptr<spdlog::logger> PlainSpdlogLogger(const std::string& path, bool flushEach) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(path, true);
    auto logger = std::make_shared<spdlog::logger>("plain", std::move(sink));
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%v", spdlog::pattern_time_type::local, "\r\n"));
    logger->set_level(spdlog::level::trace);
    if (flushEach) logger->flush_on(spdlog::level::trace);
    return logger;
}

}  // namespace vantrel::bench
