// The host program of the end-to-end tests, on Linux and Windows. The library writes beside its
// host's executable, so tests copy this program into a folder of their own. It first prints
// "<pid> <loading thread id>", then runs one command per line of standard input and prints one
// reply line for each; at the end of its input it unloads the library and exits 0. Fields are
// separated by "|"; in them \n, \r, \\ and \xHH stand for LF, CR, a backslash and the byte HH.
// The library (VANTREL_LIBRARY, else the system's name for it) is loaded by the first command.
// Replies are call results unless said otherwise; FNAME or IMAGE "-" passes NULL.
//
//   load | unload                  load (again) or unload the library
//   printf|FNAME|TEXT, print|TEXT  logPrintfMgr_deviceDefault_fname(FNAME, "%s", TEXT), or
//                                  the same to the default file
//   printfdev|FNAME|DEVICE|TEXT    logPrintfMgr_device_fname
//   begin|FNAME|NAME, end|FNAME    logFuncBeginMgr_device_fname, logFuncEndMgr_device_fname
//   bitmap|FNAME|IMAGE|TEXT[|W|H|BITS]  a WxH bitmap (1x1, 24 bits)
//   noop                           every no-op export                         -> their sum
//   thread|CMD~CMD...              the commands on a new thread       -> their replies, " "
//   loop|N|FNAME|PREFIX            N entries "PREFIX<i>\n"           -> calls that returned 0
//   progress|FNAME|PREFIX          entries without end, printing the index of each call that
//                                  returned nonzero (for tests that kill the host)
//   threads|T|N|FNAME|OTHERS       T threads log N entries "t<t>:<i>\n" to FNAME while OTHERS
//                                  threads log to other<k>.log, all at once -> calls that failed
//   serial|T|FNAME|KIND            T threads one after another, each making one entry "s<t>\n"
//                                  (KIND "bitmap": a 1x1 snapshot with it) -> calls that failed
//   cycles|K|FNAME                 K times unload, load, one entry "cycle <k>\n"
//                                             -> "<descriptors before> <after> <failed calls>"
//   exitrace|T|MS|FNAME            T threads log "t<k>:<i>\n" to FNAME (and time with dtimer)
//                                  without end; MS ms after each has logged once, the process
//                                  exits while they run; after the library's unload it prints
//                                  "t<k> <count of calls that returned nonzero>" per thread
//   forks|N|T|FNAME|TEXT           (POSIX) while T threads log to bg.log, forks N times; each
//                                  child logs "TEXT<its pid>\n" to FNAME and prints
//                                  "c <pid> <result>"; the parent prints "child <pid> <exit
//                                  status>" for each, which ends its reply
//   fds                            descriptors this process holds (-1 on Windows)
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The loaded library and what the host asks of its system.
#ifdef _WIN32
struct Library {
    HMODULE handle = nullptr;
    // Through void*: GetProcAddress's own function type would trip -Wcast-function-type.
    void* Find(const char* name) {
        return handle ? reinterpret_cast<void*>(GetProcAddress(handle, name)) : nullptr;
    }
    bool Open(const char* path) { return (handle = LoadLibraryA(path ? path : "vantrel.dll")); }
    void Close() { FreeLibrary(handle); }
    unsigned long ProcessId() { return GetCurrentProcessId(); }
    unsigned long ThreadId() { return GetCurrentThreadId(); }
    int CountDescriptors() { return -1; }
#else
struct Library {
    void* handle = nullptr;
    void* Find(const char* name) { return handle ? dlsym(handle, name) : nullptr; }
    bool Open(const char* path) {
        return (handle = dlopen(path ? path : "libvantrel.so", RTLD_NOW));
    }
    void Close() { dlclose(handle); }
    unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
    unsigned long ThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }
    int CountDescriptors() {
        DIR* folder = opendir("/proc/self/fd");
        if (!folder) return -1;
        int count = -1;  // the listing's own descriptor
        while (const dirent* entry = readdir(folder)) count += entry->d_name[0] != '.';
        closedir(folder);
        return count;
    }
#endif
    bool everLoaded = false;
    bool Load() {
        return everLoaded = true, Open(getenv("VANTREL_LIBRARY"));
    }
    void Unload() {
        if (handle) Close();
        handle = nullptr;
    }
} library;

using PrintfFn = int32_t (*)(const char*, const char*, ...);
using BitmapFn = int32_t (*)(const char*, const char*, void*, const char*, ...);
using VariadicFn = int32_t (*)(const char*, ...);

template <typename Fn>
Fn Symbol(const char* name) {
    return reinterpret_cast<Fn>(library.Find(name));
}
PrintfFn Printf() {
    return Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? at : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() && text[i] == '\\' ? text[++i] : 0;
        if (!next) {
            out += text[i];
        } else if (next == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        }
    }
    return out;
}

// A bottom-up bitmap with a simple pattern and, up to 8 bits, a full colour table.
std::vector<uint8_t> MakeBitmap(int width, int height, int bits) {
    const uint32_t stride = ((static_cast<uint32_t>(bits) * width + 31) / 32) * 4;
    const uint32_t colors = bits <= 8 ? (1u << bits) : 0;
    std::vector<uint8_t> dib(40 + colors * 4 + stride * height, 0);
    const uint32_t header[] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                               1u | (static_cast<uint32_t>(bits) << 16)};
    std::memcpy(dib.data(), header, sizeof header);
    for (size_t i = 40 + colors * 4; i < dib.size(); ++i) dib[i] = static_cast<uint8_t>(i * 7);
    return dib;
}

int32_t LogText(const std::string& fname, const std::string& text) {
    PrintfFn fn = Printf();
    return fn ? fn(fname == "-" ? nullptr : fname.c_str(), "%s", text.c_str()) : -1;
}

int RunThreads(int threads, int entries, const std::string& fname, int others) {
    PrintfFn fn = Printf();
    if (!fn) return -1;
    std::atomic<int> failed{0}, waiting{threads + others};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads + others; ++t) {
        workers.emplace_back([&, t] {
            // Everyone starts at once, so the threads really contend.
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            const std::string name =
                t < threads ? fname : "other" + std::to_string(t - threads) + ".log";
            for (int i = 0; i < entries; ++i) failed += fn(name.c_str(), "t%d:%d\n", t, i) == 0;
        });
    }
    for (std::thread& worker : workers) worker.join();
    return failed.load();
}

int RunSerialThreads(int threads, const std::string& fname, bool bitmap) {
    PrintfFn text = Printf();
    auto picture = Symbol<BitmapFn>("logDrawBitmapMgr_deviceDefault_fname");
    if (!text || !picture) return -1;
    int failed = 0;
    std::vector<uint8_t> dib = MakeBitmap(1, 1, 24);
    for (int t = 0; t < threads; ++t) {
        std::thread([&, t] {
            failed += (bitmap ? picture(fname.c_str(), nullptr, dib.data(), "s%d\n", t)
                              : text(fname.c_str(), "s%d\n", t)) == 0;
        }).join();
    }
    return failed;
}

// The exit race: threads that keep logging while the main thread leaves through exit().
constexpr int kMaxRaceThreads = 16;
std::atomic<int> raceThreads{0};
std::atomic<long> raceSucceeded[kMaxRaceThreads];

// Registered before the library loads, so it runs after the library's unload: by then no
// call may succeed any more, and the counts are final.
void PrintRaceCounts() {
    for (int k = 0; k < raceThreads.load(); ++k) printf("t%d %ld\n", k, raceSucceeded[k].load());
    fflush(stdout);
}

void ExitRace(int threads, int milliseconds, const std::string& fname) {
    PrintfFn print = Printf();
    auto begin = Symbol<int64_t (*)(int32_t, int32_t)>("dtimerRecordBegin");
    auto end = Symbol<int64_t (*)(int32_t)>("dtimerRecordEnd");
    raceThreads = threads < kMaxRaceThreads ? threads : kMaxRaceThreads;
    for (int k = 0; k < raceThreads; ++k) {
        std::thread([=] {
            for (long i = 0;; ++i) {
                begin(20 + k % 8, 1);
                if (print(fname.c_str(), "t%d:%ld\n", k, i)) raceSucceeded[k]++;
                end(20 + k % 8);
            }
        }).detach();
    }
    // The countdown starts once every thread is logging, so that the exit meets calls.
    for (int k = 0; k < raceThreads; ++k) {
        while (raceSucceeded[k].load() == 0) std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    exit(0);
}

#ifndef _WIN32
bool inForkedChild = false;

// The leak checker cannot see the parent's other threads, which a forked child copies the
// memory of but not the threads; what only they referred to would pass for a leak.
extern "C" int __lsan_is_turned_off() {
    return inForkedChild ? 1 : 0;
}

// Forks while other threads log, so that a fork can fall while one of them holds a lock of
// the library; a child that hangs on such a lock is ended by its alarm.
void Forks(int forks, int threads, const std::string& fname, const std::string& text) {
    PrintfFn print = Printf();
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int k = 0; k < threads; ++k) {
        loggers.emplace_back([&, k] {
            for (long i = 0; !stop; ++i) print("bg.log", "b%d:%ld\n", k, i);
        });
    }
    for (int n = 0; n < forks; ++n) {
        fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            inForkedChild = true;
            alarm(10);
            const int32_t result = print(fname.c_str(), "%s%d\n", text.c_str(), getpid());
            printf("c %d %d\n", static_cast<int>(getpid()), result);
            exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        printf("child %d %d\n", static_cast<int>(child),
               WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    fflush(stdout);
    stop = true;
    for (std::thread& logger : loggers) logger.join();
}
#endif

std::string Run(const std::string& command);

int32_t Call(const std::vector<std::string>& f, const std::string& command, std::string* reply) {
    const std::string& verb = f[0];
    auto text = [&](size_t i) { return i < f.size() ? Unescape(f[i]) : std::string(); };
    auto number = [&](size_t i) { return i < f.size() ? std::atoi(f[i].c_str()) : 0; };
    if (verb == "printf") return LogText(text(1), text(2));
    if (verb == "print") {
        auto fn = Symbol<VariadicFn>("logPrintfMgr_deviceDefault_fnameDefault");
        return fn ? fn("%s", text(1).c_str()) : -1;
    }
    if (verb == "printfdev") {
        auto fn = Symbol<int32_t (*)(const char*, int32_t, const char*, ...)>(
            "logPrintfMgr_device_fname");
        return fn ? fn(text(1).c_str(), number(2), "%s", text(3).c_str()) : -1;
    }
    if (verb == "begin") {
        auto fn =
            Symbol<int32_t (*)(const char*, int32_t, const char*)>("logFuncBeginMgr_device_fname");
        return fn ? fn(text(1).c_str(), 0, text(2).c_str()) : -1;
    }
    if (verb == "end") {
        auto fn = Symbol<int32_t (*)(const char*, int32_t)>("logFuncEndMgr_device_fname");
        return fn ? fn(text(1).c_str(), 0) : -1;
    }
    if (verb == "bitmap") {
        auto fn = Symbol<BitmapFn>("logDrawBitmapMgr_deviceDefault_fname");
        std::vector<uint8_t> dib =
            MakeBitmap(f.size() > 4 ? number(4) : 1, f.size() > 5 ? number(5) : 1,
                       f.size() > 6 ? number(6) : 24);
        const std::string image = text(2);
        return fn ? fn(text(1).c_str(), image == "-" ? nullptr : image.c_str(), dib.data(), "%s",
                       text(3).c_str())
                  : -1;
    }
    if (verb == "noop") {
        int sum = 0;
        for (const char* name :
             {"logPrintfMgr", "logPrintfMgr_Default", "logPrintfMgr_level",
              "logPrintfMgr_level_Default", "logDrawBitmapMgr", "logDrawBitmapMgr_Default",
              "logDrawBitmapMgr_level_Default", "logFuncBeginMgr", "logFuncEndMgr"}) {
            auto fn = Symbol<VariadicFn>(name);
            sum += fn ? fn("x.log", 1, 2, "y") : -100;
        }
        return sum;
    }
    if (verb == "thread") {
        std::thread([&] {
            for (const std::string& part : Split(command.substr(command.find('|') + 1), '~'))
                *reply += (reply->empty() ? "" : " ") + Run(part);
        }).join();
        return 0;
    }
    if (verb == "loop") {
        int failed = 0;
        for (int i = 0; i < number(1); ++i)
            failed += LogText(text(2), text(3) + std::to_string(i) + "\n") != 1;
        return failed;
    }
    if (verb == "progress") {
        for (int i = 0;; ++i) {
            if (LogText(text(1), text(2) + std::to_string(i) + "\n") == 1)
                std::cout << i << std::endl;
        }
    }
    if (verb == "threads") return RunThreads(number(1), number(2), text(3), number(4));
    if (verb == "serial") return RunSerialThreads(number(1), text(2), text(3) == "bitmap");
    if (verb == "fds") return library.CountDescriptors();
    if (verb == "exitrace") ExitRace(number(1), number(2), text(3));
#ifndef _WIN32
    if (verb == "forks") {
        Forks(number(1), number(2), text(3), text(4));
        *reply = " ";  // its own lines are its reply
        return 0;
    }
#endif
    if (verb == "cycles") {
        const int before = library.CountDescriptors();
        int failed = 0;
        for (int k = 0; k < number(1); ++k) {
            library.Unload();
            if (!library.Load()) return *reply = "load failed", 0;
            failed += LogText(text(2), "cycle " + std::to_string(k) + "\n") != 1;
        }
        *reply = std::to_string(before) + " " + std::to_string(library.CountDescriptors()) + " " +
                 std::to_string(failed);
        return 0;
    }
    *reply = "unknown command";
    return 0;
}

std::string Run(const std::string& command) {
    const std::vector<std::string> f = Split(command, '|');
    if (f[0] == "load") return library.Load() ? "1" : "0";
    if (f[0] == "unload") return library.Unload(), "1";
    if (!library.everLoaded) library.Load();
    std::string reply;
    const int32_t result = Call(f, command, &reply);
    return reply.empty() ? std::to_string(result) : reply == " " ? "" : reply;
}

}  // namespace

int main() {
    atexit(PrintRaceCounts);
    std::cout << library.ProcessId() << " " << library.ThreadId() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string reply = Run(line);
        if (!reply.empty()) std::cout << reply << std::endl;
    }
    library.Unload();
    return 0;
}
