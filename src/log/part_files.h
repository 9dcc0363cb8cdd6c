// The part files of this process: the temporary files in which the threads of a log service
// keep their text. A part file is created only under a free name, and a log that opens a file
// of a part file's name for the first time moves the part file aside first, so that no log
// takes over, empties or deletes another's text. The part file's log follows it by its ticket.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

namespace vantrel::part_files {

struct Entry;
using Ticket = std::shared_ptr<Entry>;

// Creates a part file under the first free name made from `name` in `folder` (the name itself,
// then the name with "~<n>" before its ".log") and opens it into `file`; null when none could
// be made.
Ticket Create(const std::string& folder, const std::string& name, platform::File& file);
// Where the part file lies now.
std::string Path(const Ticket& ticket);
// Reopens the part file where it lies now, as File::OpenForWritesAt does.
bool Reopen(const Ticket& ticket, platform::File& file, uint64_t* length, bool* missing);
// Makes a vanished part file again, empty, where it lay, if nothing else took its place.
bool Recreate(const Ticket& ticket, platform::File& file);
// Deletes the part file and forgets it.
void Delete(Ticket& ticket);

// Called before a log's first opening of `path`: a part file of this process lying there is
// moved to a free name. False when one lies there and cannot be moved.
bool MoveAside(const std::string& path);

}  // namespace vantrel::part_files
