// The fixed sizes and names of a log's files, used wherever the log reads or writes them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

// The log file of a call that names none.
constexpr char kDefaultLogFileName[] = "vantrel.log";
// The folder beside the log files that holds the snapshots.
constexpr char kImageFolderName[] = "img";
// Raw writes go to the file in pieces of at most this size.
constexpr uint32_t kRawPieceSize = 1u << 20;  // 1 MiB
// Files are copied (back-ups, part files) through one aligned buffer of this size.
constexpr uint32_t kCopyBufferSize = 65536;
// The last line of every summary block, and the empty line after it.
constexpr char kSummaryEnd[] =
    "////////////////////////////////////////////////////////////////////////\r\n\r\n";

}  // namespace vantrel
