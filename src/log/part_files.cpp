#include "log/part_files.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "platform/ascii_case.h"

namespace vantrel::part_files {

namespace {

// Every opening, move and deletion of a part file happens under this lock, so a file is never
// moved between a log's look at its path and its opening. It is the innermost lock. The lock
// and the list below need no destructor (constant-initialised, trivially destroyed), because
// the logs are closed at unload, which may come after the static objects are gone.
std::mutex lock;
// The part files whose logs still hold their tickets, newest first.
Entry* live = nullptr;

}  // namespace

struct Entry {
    Entry(std::string folderArg, std::string nameArg)
        : folder(std::move(folderArg)), name(std::move(nameArg)) {}
    // A log released without Close leaves its file where it is, unwatched.
    ~Entry() {
        std::lock_guard<std::mutex> hold(lock);
        Unlink();
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    // Both expect the lock to be held.
    void Link() {
        next = live;
        if (live) live->previous = this;
        live = this;
        linked = true;
    }
    void Unlink() {
        if (!linked) return;
        if (previous) previous->next = next;
        if (next) next->previous = previous;
        if (live == this) live = next;
        linked = false;
    }

    std::string folder;
    std::string name;  // where the file lies now: folder + name
    Entry* previous = nullptr;
    Entry* next = nullptr;
    bool linked = false;
};

namespace {

constexpr size_t kMaxFileNameLength = 255;
constexpr int kNameAttempts = 32;

// The name's attempt-th candidate: the name itself, then "~<attempt>" before its ".log",
// shortened to fit a file name. Log names never hold a "~", so a further candidate never
// belongs to another log.
std::string Candidate(const std::string& name, int attempt) {
    if (attempt == 0) return name;
    size_t at = name.rfind(".log");
    if (at == std::string::npos) at = name.size();
    const std::string mark = "~" + std::to_string(attempt);
    const std::string extension = name.substr(at);
    const size_t used = mark.size() + extension.size();
    const size_t room = used < kMaxFileNameLength ? kMaxFileNameLength - used : 0;
    return name.substr(0, std::min(at, room)) + mark + extension;
}

}  // namespace

Ticket Create(const std::string& folder, const std::string& name, platform::File& file) {
    std::lock_guard<std::mutex> hold(lock);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate = Candidate(name, attempt);
        if (!file.Open(folder + candidate, platform::FileOpenMode::CreateNewReadWrite)) continue;
        Ticket ticket;
        try {
            ticket = std::make_shared<Entry>(folder, candidate);
        } catch (...) {
            file.Abort();
            platform::DeleteFile(folder + candidate);
            throw;
        }
        ticket->Link();
        return ticket;
    }
    return nullptr;
}

std::string Path(const Ticket& ticket) {
    std::lock_guard<std::mutex> hold(lock);
    return ticket->folder + ticket->name;
}

bool Reopen(const Ticket& ticket, platform::File& file, uint64_t* length, bool* missing) {
    std::lock_guard<std::mutex> hold(lock);
    return file.OpenForWritesAt(ticket->folder + ticket->name, length, missing);
}

bool Recreate(const Ticket& ticket, platform::File& file) {
    std::lock_guard<std::mutex> hold(lock);
    return file.Open(ticket->folder + ticket->name, platform::FileOpenMode::CreateNewReadWrite);
}

void Delete(Ticket& ticket) {
    if (!ticket) return;
    {
        std::lock_guard<std::mutex> hold(lock);
        platform::DeleteFile(ticket->folder + ticket->name);
        ticket->Unlink();
    }
    ticket.reset();
}

bool MoveAside(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock);
    for (Entry* entry = live; entry; entry = entry->next) {
        // Without regard to case, as Windows names files; on Linux a part file named in
        // another case is moved without need, which costs nothing.
        const std::string at = entry->folder + entry->name;
        if (!platform::EqualsIgnoringAsciiCase(at, path)) continue;
        for (int attempt = 1; attempt < kNameAttempts; ++attempt) {
            const std::string candidate = Candidate(entry->name, attempt);
            if (platform::RenameFile(at, entry->folder + candidate)) {
                entry->name = candidate;
                return true;
            }
        }
        return false;
    }
    return true;
}

}  // namespace vantrel::part_files
