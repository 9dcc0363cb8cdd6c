// The host program of the end-to-end tests, on Linux and Windows; tests copy it into folders
// of their own, as the library writes beside its host. It prints "<pid> <loading thread id>",
// then for each line of input runs a command and prints its reply line (the call's result
// unless said otherwise); at the end of its input it unloads the library and exits 0. Fields
// split at "|" and take \n, \r, \\, \xHH; FNAME or IMAGE "-" is NULL. The first command loads
// the library (VANTREL_LIBRARY, else the system's name for it).
//   load, unload                 load (again), unload
//   printf|FNAME|TEXT, print|TEXT  logPrintfMgr_deviceDefault_fname(FNAME, "%s", TEXT), or
//                                the same to the default file
//   printfdev|FNAME|DEVICE|TEXT  begin|FNAME|NAME  end|FNAME   the _device_fname calls
//   bitmap|FNAME|IMAGE|TEXT[|W|H|BITS]  a W x H bitmap (1 x 1, 24 bits)
//   defaults|TEXT                the four _fnameDefault/_device_fname variants not above
//                                (device 3, made-up image names) -> their sum
//   noop                         every no-op export -> their sum
//   thread|CMD~CMD...            the commands on a new thread -> their replies, " "-joined
//   loop|N|FNAME|PREFIX          N entries "PREFIX<i>\n" -> failed calls
//   progress|FNAME|PREFIX        the same without end, printing the index of each returned
//   threads|T|N|FNAME|OTHERS     T threads log N "t<t>:<i>\n" to FNAME, OTHERS to other<k>.log,
//                                all at once -> failed calls
//   serial|T|FNAME|KIND          T threads in turn log "s<t>\n" (KIND bitmap: with a snapshot)
//   cycles|K|FNAME               K times unload, load, log -> "<fds before> <after> <failed>"
//   exitrace|T|MS|FNAME          T threads log and time without end; MS ms after all logged,
//                                exit; after the unload, "t<k> <calls that returned>" each
//   forks|N|T|FNAME|TEXT         POSIX: while T threads log to bg.log, N children each log
//                                "TEXT<pid>\n", print "c <pid> <result>"; the parent's reply:
//                                "child <pid> <exit status>" per child
//   fds                          descriptors this process holds (-1 on Windows)
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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The loaded library and what the host asks of its system.
#ifdef _WIN32
struct System {
    HMODULE library = nullptr;
    // Through void*: GetProcAddress's own function type would trip -Wcast-function-type.
    void* Find(const char* name) {
        return library ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
    }
    bool Open(const char* path) { return (library = LoadLibraryA(path ? path : "vantrel.dll")); }
    void Close() { FreeLibrary(library); }
    unsigned long ProcessId() { return GetCurrentProcessId(); }
    unsigned long ThreadId() { return GetCurrentThreadId(); }
    int CountDescriptors() { return -1; }
#else
struct System {
    void* library = nullptr;
    void* Find(const char* name) { return library ? dlsym(library, name) : nullptr; }
    bool Open(const char* path) {
        return (library = dlopen(path ? path : "libvantrel.so", RTLD_NOW));
    }
    void Close() { dlclose(library); }
    unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
    unsigned long ThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }
    int CountDescriptors() {
        DIR* folder = opendir("/proc/self/fd");
        int count = -1;  // the listing's own descriptor
        while (const dirent* entry = folder ? readdir(folder) : nullptr)
            count += entry->d_name[0] != '.';
        if (folder) closedir(folder);
        return count;
    }
#endif
    bool everLoaded = false;
    bool Load() {
        return everLoaded = true, Open(getenv("VANTREL_LIBRARY"));
    }
    void Unload() {
        library = library ? (Close(), nullptr) : nullptr;
    }
} host;

template <typename Fn>
Fn Symbol(const char* name) {
    return reinterpret_cast<Fn>(host.Find(name));
}
template <typename Fn, typename... Args>
int32_t Invoke(const char* name, Args... args) {
    const Fn fn = Symbol<Fn>(name);
    return fn ? fn(args...) : -1;
}
using PrintfFn = int32_t (*)(const char*, const char*, ...);
PrintfFn Printf() {  // looked up once per command: a forked child must not need the loader
    return Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
}
int32_t Log(PrintfFn fn, const std::string& fname, const std::string& text) {
    return fn ? fn(fname == "-" ? nullptr : fname.c_str(), "%s", text.c_str()) : -1;
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

int32_t Picture(const std::string& fname, const std::string& image, const std::string& text,
                int width = 1, int height = 1, int bits = 24) {
    auto fn = Symbol<int32_t (*)(const char*, const char*, void*, const char*, ...)>(
        "logDrawBitmapMgr_deviceDefault_fname");
    std::vector<uint8_t> dib = Dib(width, height, bits);
    return fn ? fn(fname == "-" ? nullptr : fname.c_str(), image == "-" ? nullptr : image.c_str(),
                   dib.data(), "%s", text.c_str())
              : -1;
}

// The four variants the other commands do not reach, each with device 3 where it takes one.
int32_t Defaults(const std::string& text) {
    std::vector<uint8_t> dib = Dib();
    const char* t = text.c_str();
    return Invoke<int32_t (*)(int32_t, const char*, ...)>("logPrintfMgr_device_fnameDefault", 3,
                                                          "%s", t) +
           Invoke<int32_t (*)(const char*, int32_t, const char*, void*, const char*, ...)>(
               "logDrawBitmapMgr_device_fname", "vantrel.log", 3, nullptr, dib.data(), "%s", t) +
           Invoke<int32_t (*)(int32_t, const char*, void*, const char*, ...)>(
               "logDrawBitmapMgr_device_fnameDefault", 3, nullptr, dib.data(), "%s", t) +
           Invoke<int32_t (*)(const char*, void*, const char*, ...)>(
               "logDrawBitmapMgr_deviceDefault_fnameDefault", nullptr, dib.data(), "%s", t);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text + separator);  // so that an empty last field counts
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() && text[i] == '\\' ? text[++i] : 0;
        if (next == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += !next ? text[i] : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        }
    }
    return out;
}

// The exit race: the counts are printed by a handler registered before the library loads, so
// it runs after the library's unload, when no call may succeed any more.
std::atomic<int> raceThreads{0};
std::atomic<long> raceSucceeded[16];

void ExitRace(int threads, int milliseconds, const std::string& fname) {
    PrintfFn print = Printf();
    auto begin = Symbol<int64_t (*)(int32_t, int32_t)>("dtimerRecordBegin");
    auto end = Symbol<int64_t (*)(int32_t)>("dtimerRecordEnd");
    raceThreads = threads < 16 ? threads : 16;
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
    PrintfFn print = Printf();
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int k = 0; k < threads; ++k)
        loggers.emplace_back([&, k] {
            for (long i = 0; !stop; ++i) print("bg.log", "b%d:%ld\n", k, i);
        });
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

// The call's result, or a reply of its own in *reply (" " for none).
int32_t Call(const std::vector<std::string>& f, const std::string& command, std::string* reply) {
    const std::string& verb = f[0];
    auto text = [&](size_t i) { return i < f.size() ? Unescape(f[i]) : std::string(); };
    auto number = [&](size_t i, int otherwise = 0) {
        return i < f.size() ? std::atoi(f[i].c_str()) : otherwise;
    };
    const PrintfFn print = Printf();
    if (verb == "printf") return Log(print, text(1), text(2));
    if (verb == "print")
        return Invoke<int32_t (*)(const char*, ...)>("logPrintfMgr_deviceDefault_fnameDefault",
                                                     "%s", text(1).c_str());
    if (verb == "printfdev")
        return Invoke<int32_t (*)(const char*, int32_t, const char*, ...)>(
            "logPrintfMgr_device_fname", text(1).c_str(), number(2), "%s", text(3).c_str());
    if (verb == "begin")
        return Invoke<int32_t (*)(const char*, int32_t, const char*)>(
            "logFuncBeginMgr_device_fname", text(1).c_str(), 0, text(2).c_str());
    if (verb == "end")
        return Invoke<int32_t (*)(const char*, int32_t)>("logFuncEndMgr_device_fname",
                                                         text(1).c_str(), 0);
    if (verb == "bitmap")
        return Picture(text(1), text(2), text(3), number(4, 1), number(5, 1), number(6, 24));
    if (verb == "defaults") return Defaults(text(1));
    if (verb == "noop") {
        int sum = 0;
        for (const char* name :
             {"logPrintfMgr", "logPrintfMgr_Default", "logPrintfMgr_level",
              "logPrintfMgr_level_Default", "logDrawBitmapMgr", "logDrawBitmapMgr_Default",
              "logDrawBitmapMgr_level_Default", "logFuncBeginMgr", "logFuncEndMgr"})
            sum += Invoke<int32_t (*)(const char*, ...)>(name, "x.log", 1, 2, "y");
        return sum;
    }
    if (verb == "thread") {
        std::thread([&] {
            for (const std::string& part : Split(command.substr(command.find('|') + 1), '~'))
                *reply += (reply->empty() ? "" : " ") + Run(part);
        }).join();
        return 0;
    }
    int failed = 0;
    if (verb == "loop") {
        for (int i = 0; i < number(1); ++i)
            failed += Log(print, text(2), text(3) + std::to_string(i) + "\n") != 1;
        return failed;
    }
    for (int i = 0; verb == "progress"; ++i)
        if (Log(print, text(1), text(2) + std::to_string(i) + "\n") == 1)
            std::cout << i << std::endl;
    if (verb == "threads") {
        const int threads = number(1), all = threads + number(4);
        std::atomic<int> waiting{all}, failures{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < all; ++t)
            workers.emplace_back([&, t] {
                // Everyone starts at once, so the threads really contend.
                waiting.fetch_sub(1);
                while (waiting.load() > 0) std::this_thread::yield();
                const std::string name =
                    t < threads ? text(3) : "other" + std::to_string(t - threads) + ".log";
                for (int i = 0; i < number(2); ++i)
                    failures += !print || print(name.c_str(), "t%d:%d\n", t, i) != 1;
            });
        for (std::thread& worker : workers) worker.join();
        return failures;
    }
    if (verb == "serial") {
        for (int t = 0; t < number(1); ++t)
            std::thread([&, t] {
                const std::string entry = "s" + std::to_string(t) + "\n";
                failed += (text(3) == "bitmap" ? Picture(text(2), "-", entry)
                                               : Log(print, text(2), entry)) != 1;
            }).join();
        return failed;
    }
    if (verb == "cycles") {
        const int before = host.CountDescriptors();
        for (int k = 0; k < number(1); ++k) {
            host.Unload();
            if (!host.Load()) return *reply = "load failed", 0;
            failed += Log(Printf(), text(2), "cycle " + std::to_string(k) + "\n") != 1;
        }
        *reply = std::to_string(before) + " " + std::to_string(host.CountDescriptors()) + " " +
                 std::to_string(failed);
        return 0;
    }
    if (verb == "fds") return host.CountDescriptors();
    if (verb == "exitrace") ExitRace(number(1), number(2), text(3));
#ifndef _WIN32
    if (verb == "forks") return Forks(number(1), number(2), text(3), text(4)), *reply = " ", 0;
#endif
    *reply = "unknown command";
    return 0;
}

std::string Run(const std::string& command) {
    const std::vector<std::string> f = Split(command, '|');
    if (f[0] == "load") return host.Load() ? "1" : "0";
    if (f[0] == "unload") return host.Unload(), "1";
    if (!host.everLoaded) host.Load();
    std::string reply;
    const int32_t result = Call(f, command, &reply);
    return reply.empty() ? std::to_string(result) : reply == " " ? "" : reply;
}

}  // namespace

int main() {
    atexit([] {
        for (int k = 0; k < raceThreads.load(); ++k)
            printf("t%d %ld\n", k, raceSucceeded[k].load());
        fflush(stdout);
    });
    std::cout << host.ProcessId() << " " << host.ThreadId() << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string reply = Run(line);
        if (!reply.empty()) std::cout << reply << std::endl;
    }
    host.Unload();
    return 0;
}
