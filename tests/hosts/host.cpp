// The host program of the end-to-end tests, on Linux and Windows. The library writes beside its
// host's executable, so tests copy this program into a folder of their own. It first prints
// "<pid> <loading thread id>", then runs one command per line of standard input and prints one
// reply line for each; at the end of its input it unloads the library and exits 0. Fields are
// separated by "|"; in them \n, \r, \\ and \xHH stand for LF, CR, a backslash and the byte HH.
// The library (VANTREL_LIBRARY, else the system's name for it) is loaded by the first command.
//
//   load | unload                  load (again) or unload the library         -> 1 or 0
//   printf|FNAME|TEXT              logPrintfMgr_deviceDefault_fname(FNAME, "%s", TEXT); FNAME
//                                  "-" is NULL                                 -> result
//   print|TEXT                     logPrintfMgr_deviceDefault_fnameDefault("%s", TEXT)
//   printfdev|FNAME|DEVICE|TEXT    logPrintfMgr_device_fname
//   format|FNAME|FORMAT|INT        logPrintfMgr_deviceDefault_fname(FNAME, FORMAT, INT)
//   begin|FNAME|NAME, end|FNAME    logFuncBeginMgr_device_fname, logFuncEndMgr_device_fname
//   bitmap|FNAME|IMAGE|TEXT[|W|H|BITS]  a WxH bitmap (1x1, 24 bits); IMAGE "-" is NULL
//   nullbitmap|FNAME|IMAGE|TEXT    a bitmap call without a bitmap
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
//   sleep|MS                                                                   -> 1
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

#ifdef _WIN32
HMODULE library = nullptr;
void* FindExport(const char* name) {
    // Through void*: GetProcAddress's own function type would trip -Wcast-function-type.
    return library ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
}
bool OpenLibrary(const char* path) {
    library = LoadLibraryA(path ? path : "vantrel.dll");
    return library != nullptr;
}
void CloseLibrary() {
    FreeLibrary(library);
}
unsigned long ProcessId() {
    return GetCurrentProcessId();
}
unsigned long ThreadId() {
    return GetCurrentThreadId();
}
int CountDescriptors() {
    return -1;
}
#else
void* library = nullptr;
void* FindExport(const char* name) {
    return library ? dlsym(library, name) : nullptr;
}
bool OpenLibrary(const char* path) {
    library = dlopen(path ? path : "libvantrel.so", RTLD_NOW);
    return library != nullptr;
}
void CloseLibrary() {
    dlclose(library);
}
unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}
unsigned long ThreadId() {
    return static_cast<unsigned long>(syscall(SYS_gettid));
}
int CountDescriptors() {
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return -1;
    int count = 0;
    while (const dirent* entry = readdir(folder)) count += entry->d_name[0] != '.';
    closedir(folder);
    return count - 1;  // the listing's own descriptor
}
#endif

bool everLoaded = false;

bool Load() {
    everLoaded = true;
    return OpenLibrary(getenv("VANTREL_LIBRARY"));
}

void Unload() {
    if (library) CloseLibrary();
    library = nullptr;
}

using PrintfFn = int32_t (*)(const char*, const char*, ...);
using DevicePrintfFn = int32_t (*)(const char*, int32_t, const char*, ...);
using DefaultPrintfFn = int32_t (*)(const char*, ...);
using BeginFn = int32_t (*)(const char*, int32_t, const char*);
using EndFn = int32_t (*)(const char*, int32_t);
using BitmapFn = int32_t (*)(const char*, const char*, void*, const char*, ...);
using NoOpFn = int32_t (*)(const char*, ...);

template <typename Fn>
Fn Symbol(const char* name) {
    return reinterpret_cast<Fn>(FindExport(name));
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
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'n') {
            out += '\n';
        } else if (next == 'r') {
            out += '\r';
        } else if (next == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += next;
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
    PrintfFn fn = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
    return fn ? fn(fname == "-" ? nullptr : fname.c_str(), "%s", text.c_str()) : -1;
}

int RunThreads(int threads, int entries, const std::string& fname, int others) {
    PrintfFn fn = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
    if (!fn) return -1;
    std::atomic<int> failed{0};
    std::atomic<int> waiting{threads + others};
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
    auto text = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
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
    auto print = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
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
    auto print = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int k = 0; k < threads; ++k) {
        loggers.emplace_back([&, k] {
            for (long i = 0; !stop; ++i) print("bg.log", "b%d:%ld\n", k, i);
        });
    }
    for (int n = 0; n < forks; ++n) {
        fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            inForkedChild = true;
            alarm(10);
            int32_t result =
                print(fname.c_str(), "%s%d\n", text.c_str(), static_cast<int>(getpid()));
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

std::string Call(const std::vector<std::string>& f, const std::string& command) {
    const std::string& verb = f[0];
    auto text = [&](size_t i) { return i < f.size() ? Unescape(f[i]) : std::string(); };
    auto number = [&](size_t i) { return i < f.size() ? std::atoi(f[i].c_str()) : 0; };
    auto result = [](int32_t value) { return std::to_string(value); };
    if (verb == "printf") return result(LogText(text(1), text(2)));
    if (verb == "print") {
        auto fn = Symbol<DefaultPrintfFn>("logPrintfMgr_deviceDefault_fnameDefault");
        return result(fn ? fn("%s", text(1).c_str()) : -1);
    }
    if (verb == "printfdev") {
        auto fn = Symbol<DevicePrintfFn>("logPrintfMgr_device_fname");
        return result(fn ? fn(text(1).c_str(), number(2), "%s", text(3).c_str()) : -1);
    }
    if (verb == "format") {
        auto fn = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
        return result(fn ? fn(text(1).c_str(), text(2).c_str(), number(3)) : -1);
    }
    if (verb == "begin") {
        auto fn = Symbol<BeginFn>("logFuncBeginMgr_device_fname");
        return result(fn ? fn(text(1).c_str(), 0, text(2).c_str()) : -1);
    }
    if (verb == "end") {
        auto fn = Symbol<EndFn>("logFuncEndMgr_device_fname");
        return result(fn ? fn(text(1).c_str(), 0) : -1);
    }
    if (verb == "bitmap" || verb == "nullbitmap") {
        auto fn = Symbol<BitmapFn>("logDrawBitmapMgr_deviceDefault_fname");
        std::vector<uint8_t> dib =
            MakeBitmap(f.size() > 4 ? number(4) : 1, f.size() > 5 ? number(5) : 1,
                       f.size() > 6 ? number(6) : 24);
        const std::string image = text(2);
        return result(fn ? fn(text(1).c_str(), f[2] == "-" ? nullptr : image.c_str(),
                              verb == "bitmap" ? dib.data() : nullptr, "%s", text(3).c_str())
                         : -1);
    }
    if (verb == "noop") {
        int sum = 0;
        for (const char* name :
             {"logPrintfMgr", "logPrintfMgr_Default", "logPrintfMgr_level",
              "logPrintfMgr_level_Default", "logDrawBitmapMgr", "logDrawBitmapMgr_Default",
              "logDrawBitmapMgr_level_Default", "logFuncBeginMgr", "logFuncEndMgr"}) {
            auto fn = Symbol<NoOpFn>(name);
            sum += fn ? fn("x.log", 1, 2, "y") : -100;
        }
        return result(sum);
    }
    if (verb == "thread") {
        std::string replies;
        std::thread worker([&] {
            for (const std::string& part : Split(command.substr(command.find('|') + 1), '~'))
                replies += (replies.empty() ? "" : " ") + Run(part);
        });
        worker.join();
        return replies;
    }
    if (verb == "loop") {
        int failed = 0;
        for (int i = 0; i < number(1); ++i)
            failed += LogText(text(2), text(3) + std::to_string(i) + "\n") != 1;
        return result(failed);
    }
    if (verb == "progress") {
        for (int i = 0;; ++i) {
            if (LogText(text(1), text(2) + std::to_string(i) + "\n") == 1)
                std::cout << i << std::endl;
        }
    }
    if (verb == "threads") return result(RunThreads(number(1), number(2), text(3), number(4)));
    if (verb == "fds") return result(CountDescriptors());
    if (verb == "exitrace") ExitRace(number(1), number(2), text(3));
#ifndef _WIN32
    if (verb == "forks") {
        Forks(number(1), number(2), text(3), text(4));
        return "";  // its own lines are its reply
    }
#endif
    if (verb == "serial") return result(RunSerialThreads(number(1), text(2), text(3) == "bitmap"));
    if (verb == "cycles") {
        const int before = CountDescriptors();
        int failed = 0;
        for (int k = 0; k < number(1); ++k) {
            Unload();
            if (!Load()) return "load failed";
            failed += LogText(text(2), "cycle " + std::to_string(k) + "\n") != 1;
        }
        return std::to_string(before) + " " + std::to_string(CountDescriptors()) + " " +
               std::to_string(failed);
    }
    if (verb == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(number(1)));
        return "1";
    }
    return "unknown command";
}

std::string Run(const std::string& command) {
    const std::vector<std::string> f = Split(command, '|');
    if (f[0] == "load") return Load() ? "1" : "0";
    if (f[0] == "unload") {
        Unload();
        return "1";
    }
    if (!everLoaded) Load();
    return Call(f, command);
}

}  // namespace

int main() {
    atexit(PrintRaceCounts);
    std::cout << ProcessId() << " " << ThreadId() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string reply = Run(line);
        if (!reply.empty()) std::cout << reply << std::endl;
    }
    Unload();
    return 0;
}
