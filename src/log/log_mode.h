// The mode bits of a log, fixed when the log opens.
#pragma once

#include <cstdint>

namespace vantrel {

constexpr uint32_t LogModeThreadId = 0x2;
constexpr uint32_t LogModeTimeStamp = 0x4;
constexpr uint32_t LogModeWriteImmediately = 0x8;
constexpr uint32_t LogModeNoFileOutput = 0x40;
constexpr uint32_t LogModeNoSummary = 0x80;
constexpr uint32_t LogModeTruncate = 0x100;
constexpr uint32_t LogModeAppend = 0x200;
constexpr uint32_t LogModeDeleteOnClose = 0x400;
constexpr uint32_t LogModeHtml = 0x800;
constexpr uint32_t LogModeMergeFromMemory = 0x10000;
constexpr uint32_t LogModeMergeFromFiles = 0x20000;

// Asks Init to compute the mode from the settings.
constexpr uint32_t LogModeFromSettings = 0xFFFFFFFF;

}  // namespace vantrel
