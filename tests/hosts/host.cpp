// The end-to-end tests' host, copied into a folder per test. It prints "<pid> <loading thread
// id>", then runs a command per input line (table below; the first loads VANTREL_LIBRARY or
// the system's name) and prints its reply; at the end of input it unloads and exits 0. Fields
// split at "|" and take \n, \r, \\, \xHH; FNAME or IMAGE "-" is NULL.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <vantrel/vantrel.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using PrintfFn = decltype(&logPrintfMgr_deviceDefault_fname);

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
    int CountDescriptors() {  // less the listing's own
        const std::filesystem::directory_iterator held("/proc/self/fd");
        return static_cast<int>(std::distance(held, {})) - 1;
    }
#endif
    PrintfFn print = nullptr;  // looked up at load: a forked child must not need the loader
    bool everLoaded = false;
    bool Load() {
        everLoaded = true;
        const bool loaded = Open(getenv("VANTREL_LIBRARY"));
        print = reinterpret_cast<PrintfFn>(Find("logPrintfMgr_deviceDefault_fname"));
        return loaded;
    }
    void Unload() {
        if (handle) Close();
        handle = nullptr, print = nullptr;
    }
} library;

// Calls an export by name with its declared type; -1 when it is missing.
template <typename Fn, typename... Args>
int32_t Invoke(const char* name, Args... args) {
    const Fn fn = reinterpret_cast<Fn>(library.Find(name));
    return fn ? fn(args...) : -1;
}
#define CALL(name, ...) Invoke<decltype(&name)>(#name, __VA_ARGS__)

int32_t Log(const char* fname, const std::string& text) {
    return library.print ? library.print(fname, "%s", text.c_str()) : -1;
}

// A bottom-up bitmap with a simple pattern and, up to 8 bits, a full colour table.
std::vector<uint8_t> Dib(int width = 1, int height = 1, int bits = 24) {
    const uint32_t stride = ((static_cast<uint32_t>(bits) * width + 31) / 32) * 4;
    const uint32_t colors = bits <= 8 ? (1u << bits) : 0;
    std::vector<uint8_t> dib(40 + colors * 4 + stride * height, 0);
    const uint32_t header[] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                               1u | (static_cast<uint32_t>(bits) << 16)};
    std::memcpy(dib.data(), header, sizeof header);
    for (size_t i = 40 + colors * 4; i < dib.size(); ++i) dib[i] = static_cast<uint8_t>(i * 7);
    return dib;
}

int32_t Picture(const char* fname, const char* image, const std::string& text, int width = 1,
                int height = 1, int bits = 24) {
    std::vector<uint8_t> dib = Dib(width, height, bits);
    return CALL(logDrawBitmapMgr_deviceDefault_fname, fname, image, static_cast<void*>(dib.data()),
                "%s", text.c_str());
}

// `count` entries "<prefix><i>\n" (count < 0: without end) -> the calls that failed.
int Entries(const char* fname, const std::string& prefix, long count, bool printReturned) {
    int failed = 0;
    for (long i = 0; i != count; ++i) {
        const bool logged = Log(fname, prefix + std::to_string(i) + "\n") == 1;
        failed += !logged;
        if (logged && printReturned) std::cout << i << std::endl;
    }
    return failed;
}

// Runs body(t) on `count` threads, in turn or all at once (so that they really contend).
template <typename Body>
int OnThreads(int count, bool together, const Body& body) {
    std::atomic<int> waiting{count}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            for (--waiting; together && waiting > 0;) std::this_thread::yield();
            failed += body(t);
        });
        if (!together) threads.back().join();
    }
    for (std::thread& thread : threads)
        if (thread.joinable()) thread.join();
    return failed;
}

// exitrace|T|MS|FNAME: T threads log and time without end; MS ms after all logged, exit. The
// handler that prints "t<k> <calls that returned>" for each is registered before the library
// loads, so it runs after the library's unload, when no call may succeed any more.
std::atomic<int> raceThreads{0};
std::atomic<long> raceSucceeded[16];

void ExitRace(int threads, int milliseconds, const std::string& fname) {
    const PrintfFn log = library.print;
    auto begin = reinterpret_cast<decltype(&dtimerRecordBegin)>(library.Find("dtimerRecordBegin"));
    auto end = reinterpret_cast<decltype(&dtimerRecordEnd)>(library.Find("dtimerRecordEnd"));
    raceThreads = std::min(threads, 16);
    for (int k = 0; k < raceThreads; ++k) {
        std::thread([=] {
            for (long i = 0;; ++i) {
                begin(20 + k % 8, 1);
                if (log(fname.c_str(), "t%d:%ld\n", k, i)) raceSucceeded[k]++;
                end(20 + k % 8);
            }
        }).detach();
    }
    // The countdown starts once every thread is logging, so that the exit meets calls.
    for (int k = 0; k < raceThreads; ++k)
        while (raceSucceeded[k].load() == 0) std::this_thread::yield();
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
    const PrintfFn log = library.print;
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int k = 0; k < threads; ++k)
        loggers.emplace_back([&, k] {
            for (long i = 0; !stop; ++i) log("bg.log", "b%d:%ld\n", k, i);
        });
    for (int n = 0; n < forks; ++n) {
        fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            inForkedChild = true;
            alarm(10);
            const int32_t result = log(fname.c_str(), "%s%d\n", text.c_str(), getpid());
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

// A command's fields, unescaped and padded with "".
struct Command {
    std::string line;
    std::vector<std::string> text{""};
    explicit Command(const std::string& input) : line(input) {
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i], next = c == '\\' && i + 1 < line.size() ? line[++i] : 0;
            if (c == '|')
                text.emplace_back();
            else if (next == 'x' && i + 2 < line.size())
                text.back() += char(std::stoi(line.substr(i + 1, 2), nullptr, 16)), i += 2;
            else
                text.back() += !next ? c : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        }
        text.resize(std::max<size_t>(text.size(), 8));
    }
    const char* Text(size_t i) const { return text[i].c_str(); }
    const char* Name(size_t i) const { return text[i] == "-" ? nullptr : Text(i); }
    int Number(size_t i, int otherwise = 0) const {
        return text[i].empty() ? otherwise : std::atoi(text[i].c_str());
    }
};

std::string Run(const std::string& line);
#define NUMBER(expr) [](const Command& c [[maybe_unused]]) { return std::to_string(expr); }

// clang-format off
const std::map<std::string, std::string (*)(const Command&)> kCalls = {
    {"load", NUMBER(library.Load() ? 1 : 0)},  // load (again)
    {"unload", NUMBER((library.Unload(), 1))},
    {"print", NUMBER(CALL(logPrintfMgr_deviceDefault_fnameDefault, "%s", c.Text(1)))},  // |TEXT
    {"printf", NUMBER(Log(c.Name(1), c.text[2]))},  // |FNAME|TEXT
    {"printfdev", NUMBER(CALL(logPrintfMgr_device_fname, c.Name(1), c.Number(2), "%s", c.Text(3)))},  // |FNAME|DEVICE|TEXT
    {"begin", NUMBER(CALL(logFuncBeginMgr_device_fname, c.Name(1), 0, c.Text(2)))},  // |FNAME|NAME
    {"end", NUMBER(CALL(logFuncEndMgr_device_fname, c.Name(1), 0))},  // |FNAME
    {"bitmap", NUMBER(Picture(c.Name(1), c.Name(2), c.text[3], c.Number(4, 1), c.Number(5, 1), c.Number(6, 24)))},  // |FNAME|IMAGE|TEXT[|W|H|BITS] (1 x 1, 24 bits)
    {"defaults", [](const Command& c) {  // |TEXT: the four variants not above (device 3) -> their sum
        std::vector<uint8_t> dib = Dib();
        void* d = dib.data();
        const char* t = c.Text(1);
        return std::to_string(CALL(logPrintfMgr_device_fnameDefault, 3, "%s", t) + CALL(logDrawBitmapMgr_device_fname, "vantrel.log", 3, nullptr, d, "%s", t) +
                              CALL(logDrawBitmapMgr_device_fnameDefault, 3, nullptr, d, "%s", t) + CALL(logDrawBitmapMgr_deviceDefault_fnameDefault, nullptr, d, "%s", t));
    }},
    {"noop", [](const Command&) {  // every no-op export -> their sum
        int32_t sum = 0;
        for (const char* name : {"logPrintfMgr", "logPrintfMgr_Default", "logPrintfMgr_level", "logPrintfMgr_level_Default", "logDrawBitmapMgr", "logDrawBitmapMgr_Default", "logDrawBitmapMgr_level_Default", "logFuncBeginMgr", "logFuncEndMgr"})
            sum += Invoke<decltype(&logPrintfMgr)>(name, "x.log", 1, 2, "y");
        return std::to_string(sum);
    }},
    {"fds", NUMBER(library.CountDescriptors())},  // descriptors held (-1 on Windows)
    {"loop", NUMBER(Entries(c.Name(2), c.text[3], c.Number(1), false))},  // |N|FNAME|PREFIX: N entries "PREFIX<i>\n" -> failed calls
    {"progress", NUMBER(Entries(c.Name(1), c.text[2], -1, true))},  // |FNAME|PREFIX: the same without end, printing the index of each returned
    // |T|N|FNAME|OTHERS: T threads log N "t<t>:<i>\n" to FNAME, OTHERS to other<k>.log, all at once -> failed calls
    {"threads", NUMBER(OnThreads(c.Number(1) + c.Number(4), true, [&](int t) {
        const std::string name = t < c.Number(1) ? c.text[3] : "other" + std::to_string(t - c.Number(1)) + ".log";
        return Entries(name.c_str(), "t" + std::to_string(t) + ":", c.Number(2), false);
    }))},
    // |T|FNAME|KIND: T threads in turn log "s<t>\n" (KIND bitmap: with a snapshot) -> failed calls
    {"serial", NUMBER(OnThreads(c.Number(1), false, [&](int t) {
        const std::string entry = "s" + std::to_string(t) + "\n";
        return (c.text[3] == "bitmap" ? Picture(c.Name(2), nullptr, entry) : Log(c.Name(2), entry)) != 1;
    }))},
    {"exitrace", NUMBER((ExitRace(c.Number(1), c.Number(2), c.text[3]), 0))},
    // |K|FNAME: K times unload, load, log -> "<fds before> <after> <failed>"
    {"cycles", [](const Command& c) {
        const std::string before = std::to_string(library.CountDescriptors());
        int failed = 0;
        for (int k = 0; k < c.Number(1); ++k)
            library.Unload(), library.Load(), failed += Log(c.Name(2), "cycle " + std::to_string(k) + "\n") != 1;
        return before + " " + std::to_string(library.CountDescriptors()) + " " + std::to_string(failed);
    }},
    {"thread", [](const Command& c) {  // |CMD~CMD...: on a new thread -> their replies, " "-joined
        std::string reply;
        std::thread([&] {
            const std::string parts = c.line.substr(c.line.find('|') + 1) + "~";
            for (size_t at = 0, end; (end = parts.find('~', at)) != std::string::npos; at = end + 1)
                reply += (reply.empty() ? "" : " ") + Run(parts.substr(at, end - at));
        }).join();
        return reply;
    }},
#ifndef _WIN32
    // |N|T|FNAME|TEXT: while T threads log to bg.log, N children each log "TEXT<pid>\n" and
    // print "c <pid> <result>"; the parent prints "child <pid> <exit status>" for each
    {"forks", [](const Command& c) { return Forks(c.Number(1), c.Number(2), c.text[3], c.text[4]), std::string(); }},
#endif
};
// clang-format on

std::string Run(const std::string& line) {
    const Command c(line);
    if (!library.everLoaded && c.text[0] != "load" && c.text[0] != "unload") library.Load();
    return kCalls.count(c.text[0]) ? kCalls.at(c.text[0])(c) : "unknown command";
}

}  // namespace

int main() {
    atexit([] {
        for (int k = 0; k < raceThreads; ++k) printf("t%d %ld\n", k, raceSucceeded[k].load());
        fflush(stdout);
    });
    std::cout << library.ProcessId() << " " << library.ThreadId() << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        const std::string reply = Run(line);
        if (!reply.empty()) std::cout << reply << std::endl;
    }
    library.Unload();
}
