// A host program for end-to-end tests, on Linux and Windows. It loads the library named by
// VANTREL_LIBRARY, else libvantrel.so or the vantrel.dll beside it (the library writes beside
// this executable, so tests copy it into a folder of their own), and runs one call per argument. An
// argument is a command and its fields separated by "|"; in the text fields \n, \r and \\ stand for
// LF, CR and a backslash. Each call's result is printed on its own line.
//
//   printf|FNAME|TEXT             logPrintfMgr_deviceDefault_fname(FNAME, "%s", TEXT)
//   printfdev|FNAME|DEVICE|TEXT   logPrintfMgr_device_fname
//   print|TEXT                    logPrintfMgr_deviceDefault_fnameDefault("%s", TEXT)
//   format|FNAME|FORMAT|INT       logPrintfMgr_deviceDefault_fname(FNAME, FORMAT, INT)
//   begin|FNAME|NAME              logFuncBeginMgr_device_fname(FNAME, 0, NAME)
//   end|FNAME                     logFuncEndMgr_device_fname(FNAME, 0)
//   bitmap|FNAME|IMAGE|W|H|BITS|TEXT  a WxH bitmap of BITS bits per pixel; IMAGE "-" = NULL
//   nullbitmap|FNAME|IMAGE|TEXT   a bitmap call with a null bitmap
//   noop                          every no-op export, results summed
//   thread|CMD...                 runs the commands after it (separated by "~") on a new
//                                 thread and joins it
//   loop|N|FNAME|TEXT             N printf entries "TEXT<i>\n", printing the last index that
//                                 returned nonzero on stdout after each call (for kill tests)
//   sleep|MS                      sleeps
//   wait                          prints "waiting", then waits for a line on standard input
//   hold                          prints "holding", then waits until standard input closes
//   forks|N|T|FNAME|TEXT          (POSIX) while T threads log to bg.log, forks N times; each
//                                 child logs "TEXT<its pid>\n" to FNAME, prints
//                                 "c <pid> <result>" and exits; the parent prints
//                                 "child <pid> <exit status>" for each
//   unload                        dlclose (FreeLibrary)
//   reload                        dlopen (LoadLibraryA) again
//   exitrace|T|MS|FNAME           T threads log "t<k>:<i>\n" to FNAME (and time with dtimer)
//                                 without end; MS ms after each has logged once, the process
//                                 exits while they run.
//                                 After the library's unload each thread's count of calls
//                                 that returned nonzero is printed as "t<k> <count>"
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

#ifdef _WIN32
HMODULE library = nullptr;
constexpr char kDefaultLibrary[] = "vantrel.dll";

void* FindExport(const char* name) {
    // Through void*: GetProcAddress's own function type would trip -Wcast-function-type.
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
void OpenLibrary(const char* path) {
    library = LoadLibraryA(path);
    if (!library) fprintf(stderr, "LoadLibraryA: error %lu\n", GetLastError());
}
void CloseLibrary() {
    FreeLibrary(library);
}
#else
void* library = nullptr;
constexpr char kDefaultLibrary[] = "libvantrel.so";

void* FindExport(const char* name) {
    return dlsym(library, name);
}
void OpenLibrary(const char* path) {
    library = dlopen(path, RTLD_NOW);
    if (!library) fprintf(stderr, "dlopen: %s\n", dlerror());
}
void CloseLibrary() {
    dlclose(library);
}
#endif

template <typename Fn>
Fn Symbol(const char* name) {
    void* address = FindExport(name);
    if (!address) {
        fprintf(stderr, "missing export %s\n", name);
        exit(3);
    }
    return reinterpret_cast<Fn>(address);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            if (next == 'n')
                out += '\n';
            else if (next == 'r')
                out += '\r';
            else
                out += next;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char* NullIfDash(const std::string& text) {
    return text == "-" ? nullptr : text.c_str();
}

void Load() {
    const char* path = getenv("VANTREL_LIBRARY");
    OpenLibrary(path ? path : kDefaultLibrary);
    if (!library) exit(2);
}

// A bottom-up bitmap with a simple pattern.
std::vector<uint8_t> MakeBitmap(int width, int height, int bits) {
    uint32_t stride = ((static_cast<uint32_t>(bits) * width + 31) / 32) * 4;
    uint32_t colors = bits <= 8 ? (1u << bits) : 0;
    std::vector<uint8_t> dib(40 + colors * 4 + stride * height, 0);
    auto put32 = [&](size_t at, uint32_t v) { memcpy(&dib[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { memcpy(&dib[at], &v, 2); };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(width));
    put32(8, static_cast<uint32_t>(height));
    put16(12, 1);
    put16(14, static_cast<uint16_t>(bits));
    for (size_t i = 40 + colors * 4; i < dib.size(); ++i) dib[i] = static_cast<uint8_t>(i * 7);
    return dib;
}

int RunCommand(const std::string& command);

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
    using Fn = int32_t (*)(const char*, const char*, ...);
    auto print = Symbol<Fn>("logPrintfMgr_deviceDefault_fname");
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

int RunCommands(const std::vector<std::string>& commands) {
    for (const std::string& command : commands) {
        int status = RunCommand(command);
        if (status != 0) return status;
    }
    return 0;
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
    using Fn = int32_t (*)(const char*, const char*, ...);
    auto print = Symbol<Fn>("logPrintfMgr_deviceDefault_fname");
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
    stop = true;
    for (std::thread& logger : loggers) logger.join();
}
#endif

int RunCommand(const std::string& command) {
    std::vector<std::string> f = Split(command, '|');
    const std::string& verb = f[0];
    auto need = [&](size_t count) {
        if (f.size() < count) {
            fprintf(stderr, "bad command: %s\n", command.c_str());
            exit(4);
        }
    };
    if (verb == "printf") {
        need(3);
        using Fn = int32_t (*)(const char*, const char*, ...);
        printf("%d\n", Symbol<Fn>("logPrintfMgr_deviceDefault_fname")(NullIfDash(f[1]), "%s",
                                                                      Unescape(f[2]).c_str()));
    } else if (verb == "printfdev") {
        need(4);
        using Fn = int32_t (*)(const char*, int32_t, const char*, ...);
        printf("%d\n", Symbol<Fn>("logPrintfMgr_device_fname")(f[1].c_str(), atoi(f[2].c_str()),
                                                               "%s", Unescape(f[3]).c_str()));
    } else if (verb == "print") {
        need(2);
        using Fn = int32_t (*)(const char*, ...);
        printf("%d\n",
               Symbol<Fn>("logPrintfMgr_deviceDefault_fnameDefault")("%s", Unescape(f[1]).c_str()));
    } else if (verb == "format") {
        need(4);
        using Fn = int32_t (*)(const char*, const char*, ...);
        printf("%d\n", Symbol<Fn>("logPrintfMgr_deviceDefault_fname")(
                           f[1].c_str(), Unescape(f[2]).c_str(), atoi(f[3].c_str())));
    } else if (verb == "begin") {
        need(3);
        using Fn = int32_t (*)(const char*, int32_t, const char*);
        printf("%d\n",
               Symbol<Fn>("logFuncBeginMgr_device_fname")(f[1].c_str(), 0, Unescape(f[2]).c_str()));
    } else if (verb == "end") {
        need(2);
        using Fn = int32_t (*)(const char*, int32_t);
        printf("%d\n", Symbol<Fn>("logFuncEndMgr_device_fname")(f[1].c_str(), 0));
    } else if (verb == "bitmap") {
        need(7);
        std::vector<uint8_t> dib =
            MakeBitmap(atoi(f[3].c_str()), atoi(f[4].c_str()), atoi(f[5].c_str()));
        using Fn = int32_t (*)(const char*, const char*, void*, const char*, ...);
        printf("%d\n",
               Symbol<Fn>("logDrawBitmapMgr_deviceDefault_fname")(
                   f[1].c_str(), NullIfDash(f[2]), dib.data(), "%s", Unescape(f[6]).c_str()));
    } else if (verb == "nullbitmap") {
        need(4);
        using Fn = int32_t (*)(const char*, const char*, void*, const char*, ...);
        printf("%d\n", Symbol<Fn>("logDrawBitmapMgr_deviceDefault_fname")(
                           f[1].c_str(), NullIfDash(f[2]), nullptr, "%s", Unescape(f[3]).c_str()));
    } else if (verb == "noop") {
        using Fn = int32_t (*)(const char*, ...);
        const char* names[] = {"logPrintfMgr",
                               "logPrintfMgr_Default",
                               "logPrintfMgr_level",
                               "logPrintfMgr_level_Default",
                               "logDrawBitmapMgr",
                               "logDrawBitmapMgr_Default",
                               "logDrawBitmapMgr_level_Default",
                               "logFuncBeginMgr",
                               "logFuncEndMgr"};
        int sum = 0;
        for (const char* name : names) sum += Symbol<Fn>(name)("x.log", 1, 2, "y");
        printf("%d\n", sum);
    } else if (verb == "thread") {
        std::string rest = command.substr(command.find('|') + 1);
        int status = 0;
        std::thread worker([&] { status = RunCommands(Split(rest, '~')); });
        worker.join();
        return status;
    } else if (verb == "loop") {
        need(4);
        using Fn = int32_t (*)(const char*, const char*, ...);
        auto fn = Symbol<Fn>("logPrintfMgr_deviceDefault_fname");
        int count = atoi(f[1].c_str());
        std::string text = Unescape(f[3]);
        for (int i = 0; i < count; ++i) {
            if (fn(f[2].c_str(), "%s%d\n", text.c_str(), i)) {
                printf("%d\n", i);
                fflush(stdout);
            }
        }
    } else if (verb == "sleep") {
        need(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(atoi(f[1].c_str())));
    } else if (verb == "wait") {
        printf("waiting\n");
        fflush(stdout);
        for (int c = getchar(); c != EOF && c != '\n'; c = getchar()) {
        }
    } else if (verb == "hold") {
        printf("holding\n");
        fflush(stdout);
        while (getchar() != EOF) {
        }
    } else if (verb == "exitrace") {
        need(4);
        ExitRace(atoi(f[1].c_str()), atoi(f[2].c_str()), f[3]);
#ifndef _WIN32
    } else if (verb == "forks") {
        need(5);
        Forks(atoi(f[1].c_str()), atoi(f[2].c_str()), f[3], Unescape(f[4]));
#endif
    } else if (verb == "unload") {
        CloseLibrary();
        library = nullptr;
    } else if (verb == "reload") {
        Load();
    } else {
        fprintf(stderr, "unknown command: %s\n", command.c_str());
        return 4;
    }
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    atexit(PrintRaceCounts);
    Load();
    std::vector<std::string> commands(argv + 1, argv + argc);
    int status = RunCommands(commands);
    if (library) CloseLibrary();
    return status;
}
