// A host program driven line by line through its standard input, for tests that act between
// two logging calls (tamper with the files, hold a lock, start several hosts at once). Each
// line is one command with "|"-separated fields; each command prints exactly one reply line.
// In text fields \n, \r, \\ and \xHH stand for LF, CR, a backslash and the byte HH.
//
//   load                       dlopen the library named by VANTREL_LIBRARY         -> 1 or 0
//   unload                     dlclose                                              -> 1
//   printf|FNAME|TEXT          logPrintfMgr_deviceDefault_fname(FNAME, "%s", TEXT)  -> result
//                              (FNAME may use the escapes too)
//   begin|FNAME|NAME           logFuncBeginMgr_device_fname(FNAME, 0, NAME)          -> result
//   end|FNAME                  logFuncEndMgr_device_fname(FNAME, 0)                  -> result
//   bitmap|FNAME|IMAGE|TEXT    a 1x1 24-bit snapshot; IMAGE "-" makes up the name   -> result
//   loop|N|FNAME|PREFIX        N entries "PREFIX<i>\n"                 -> calls that returned 0
//   threads|T|N|FNAME|OTHERS   T threads log N entries "t<t>:<i>\n" each to FNAME while
//                              OTHERS more threads log N entries each to other<k>.log; all
//                              start together                         -> calls that returned 0
//   serial|T|FNAME|KIND        T threads one after another, each making one entry "s<t>\n"
//                              to FNAME (KIND "bitmap": a 1x1 snapshot with that caption)
//                                                             -> calls that returned 0
//   cycles|K|FNAME             K times: dlclose, dlopen, one entry "cycle <k>\n" to FNAME
//                                                -> "<fds before> <fds after> <failed calls>"
//   fds                        open descriptors of this process                     -> count
#include <dirent.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

void* library = nullptr;

using PrintfFn = int32_t (*)(const char*, const char*, ...);
using BeginFn = int32_t (*)(const char*, int32_t, const char*);
using EndFn = int32_t (*)(const char*, int32_t);
using BitmapFn = int32_t (*)(const char*, const char*, void*, const char*, ...);

template <typename Fn>
Fn Symbol(const char* name) {
    void* address = library ? dlsym(library, name) : nullptr;
    return reinterpret_cast<Fn>(address);
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find('|', start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
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
        char next = text[++i];
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

bool Load() {
    const char* path = getenv("VANTREL_LIBRARY");
    library = dlopen(path ? path : "libvantrel.so", RTLD_NOW);
    return library != nullptr;
}

void Unload() {
    if (library) dlclose(library);
    library = nullptr;
}

int CountDescriptors() {
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return -1;
    int count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(folder);
    return count - 1;  // the descriptor of the listing itself
}

int32_t LogText(const std::string& fname, const std::string& text) {
    PrintfFn fn = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
    return fn ? fn(fname.c_str(), "%s", text.c_str()) : -1;
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
            for (int i = 0; i < entries; ++i) {
                if (!fn(name.c_str(), "t%d:%d\n", t, i)) failed.fetch_add(1);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    return failed.load();
}

int RunSerialThreads(int threads, const std::string& fname, bool bitmap) {
    PrintfFn text = Symbol<PrintfFn>("logPrintfMgr_deviceDefault_fname");
    BitmapFn picture = Symbol<BitmapFn>("logDrawBitmapMgr_deviceDefault_fname");
    if (!text || !picture) return -1;
    int failed = 0;
    for (int t = 0; t < threads; ++t) {
        std::thread([&, t] {
            uint8_t dib[44] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
            const int32_t result = bitmap ? picture(fname.c_str(), nullptr, dib, "s%d\n", t)
                                          : text(fname.c_str(), "s%d\n", t);
            if (!result) ++failed;
        }).join();
    }
    return failed;
}

std::string Run(const std::vector<std::string>& f) {
    const std::string& verb = f[0];
    auto field = [&](size_t i) { return i < f.size() ? f[i] : std::string(); };
    auto number = [&](size_t i) { return std::atoi(field(i).c_str()); };
    if (verb == "load") return Load() ? "1" : "0";
    if (verb == "unload") {
        Unload();
        return "1";
    }
    if (verb == "printf") return std::to_string(LogText(Unescape(field(1)), Unescape(field(2))));
    if (verb == "begin") {
        BeginFn fn = Symbol<BeginFn>("logFuncBeginMgr_device_fname");
        return std::to_string(fn ? fn(field(1).c_str(), 0, Unescape(field(2)).c_str()) : -1);
    }
    if (verb == "end") {
        EndFn fn = Symbol<EndFn>("logFuncEndMgr_device_fname");
        return std::to_string(fn ? fn(field(1).c_str(), 0) : -1);
    }
    if (verb == "bitmap") {
        BitmapFn fn = Symbol<BitmapFn>("logDrawBitmapMgr_deviceDefault_fname");
        uint8_t dib[44] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
        const std::string image = Unescape(field(2));
        const std::string text = Unescape(field(3));
        return std::to_string(fn ? fn(field(1).c_str(), field(2) == "-" ? nullptr : image.c_str(),
                                      dib, "%s", text.c_str())
                                 : -1);
    }
    if (verb == "loop") {
        int failed = 0;
        for (int i = 0; i < number(1); ++i) {
            if (LogText(field(2), field(3) + std::to_string(i) + "\n") != 1) ++failed;
        }
        return std::to_string(failed);
    }
    if (verb == "threads")
        return std::to_string(RunThreads(number(1), number(2), field(3), number(4)));
    if (verb == "serial")
        return std::to_string(RunSerialThreads(number(1), field(2), field(3) == "bitmap"));
    if (verb == "cycles") {
        const int before = CountDescriptors();
        int failed = 0;
        for (int k = 0; k < number(1); ++k) {
            Unload();
            if (!Load()) return "load failed: " + std::string(dlerror());
            if (LogText(field(2), "cycle " + std::to_string(k) + "\n") != 1) ++failed;
        }
        return std::to_string(before) + " " + std::to_string(CountDescriptors()) + " " +
               std::to_string(failed);
    }
    if (verb == "fds") return std::to_string(CountDescriptors());
    return "unknown command";
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::cout << Run(Split(line)) << std::endl;
    }
    Unload();
    return 0;
}
