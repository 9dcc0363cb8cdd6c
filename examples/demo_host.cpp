// A small host program: a render loop on two worker threads that logs nested function
// scopes, printf entries and a snapshot it draws itself, and times its phases with the
// stopwatch timers. At the end it prints where its log went and what the timers measured.
//
//   vantrel_demo [--frames N] [--html]
//
// --html makes the log an HTML document (the HtmlDoc setting of this instance's demo.log key,
// written with the settings editor before the first entry), so the snapshot shows inline.
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/vantrel.h"

namespace {

constexpr char kLog[] = "demo.log";
constexpr int kFrameTimer = 0;  // the master render timer
constexpr int kDrawTimer = 1;
constexpr int kSnapshotTimer = 19;

// A 64x64 24-bit bottom-up bitmap with a gradient and a diagonal, as a packed DIB.
std::vector<unsigned char> DrawSnapshot(int frame) {
    const int width = 64, height = 64, stride = width * 3;
    std::vector<unsigned char> dib(40 + stride * height, 0);
    auto put32 = [&](int at, unsigned value) { memcpy(&dib[at], &value, 4); };
    put32(0, 40);
    put32(4, width);
    put32(8, height);
    dib[12] = 1;   // planes
    dib[14] = 24;  // bits per pixel
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = &dib[40 + y * stride + x * 3];
            pixel[0] = static_cast<unsigned char>(x * 4);
            pixel[1] = static_cast<unsigned char>(y * 4);
            pixel[2] = static_cast<unsigned char>((frame * 40) & 0xFF);
            if (x == y) pixel[0] = pixel[1] = pixel[2] = 255;
        }
    }
    return dib;
}

void DrawItems(int worker, int frame) {
    logFuncBeginMgr_device_fname(kLog, 0, "Scene::DrawItems");
    for (int item = 0; item < 3; ++item) {
        logPrintfMgr_deviceDefault_fname(kLog, "worker %d frame %d: item %d drawn\n", worker, frame,
                                         item);
    }
    logFuncEndMgr_device_fname(kLog, 0);
}

// One frame's share of the work of one worker thread.
void RenderWorker(int worker, int frame) {
    logFuncBeginMgr_device_fname(kLog, 0, "Renderer::Frame");
    logPrintfMgr_deviceDefault_fname(kLog, "%d items in frame %d\n", 3, frame);
    DrawItems(worker, frame);
    logFuncEndMgr_device_fname(kLog, 0);
}

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    return std::string(path, static_cast<size_t>(length));
}

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

// The settings editor: beside the build's tools, or on the PATH.
std::string SettingsEditor() {
    std::string exe = ExecutablePath();
    std::string sibling = exe.substr(0, exe.rfind('/')) + "/../tools/vantrel-reg";
    return access(sibling.c_str(), X_OK) == 0 ? sibling : std::string("vantrel-reg");
}

// Sets HtmlDoc for this instance's demo.log key. The instance key whose Identifier names
// this process tells the instance number that the library claimed at load.
bool SetHtmlDoc(bool on) {
    std::string keyName = ExecutablePath();
    for (char& c : keyName) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::string root = "HKCU\\Software\\Osmirel Systems\\Kelvra\\" + keyName;
    char identity[32];
    snprintf(identity, sizeof identity, "REG_SZ    0x%x, ", static_cast<unsigned>(getpid()));
    std::string editor = SettingsEditor();
    for (int n = 1; n <= 64; ++n) {
        std::string key = root + "\\proc" + std::to_string(n);
        std::string answer =
            RunCommand("'" + editor + "' query \"" + key + "\" /v Identifier 2>/dev/null");
        if (answer.find(identity) == std::string::npos) continue;
        std::string add = "'" + editor + "' add \"" + key + "\\" + kLog +
                          "\" /v HtmlDoc /t REG_DWORD /d " + (on ? "1" : "0") + " /f >/dev/null";
        return system(add.c_str()) == 0;
    }
    return false;
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    std::string text(path);
    return text.substr(0, text.rfind('/'));
}

void ListFolder(const std::string& folder, const std::string& indent) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        printf("%s%s\n", indent.c_str(), name.c_str());
        if (entry->d_type == DT_DIR) ListFolder(folder + "/" + name, indent + "  ");
    }
    closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 5;
    bool html = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            frames = atoi(argv[++i]);
        else if (strcmp(argv[i], "--html") == 0)
            html = true;
    }
    // Settings persist per instance and log name: say HtmlDoc either way.
    if (!SetHtmlDoc(html)) {
        fprintf(stderr,
                "could not set HtmlDoc with the settings editor; the log keeps its setting\n");
    }

    printf("vantrel demo: rendering %d frames on 2 worker threads\n", frames);
    logFuncBeginMgr_device_fname(kLog, 0, "main");
    int ok = logPrintfMgr_deviceDefault_fname(kLog, "demo started, %d frames\n", frames);

    for (int frame = 0; frame < frames; ++frame) {
        dtimerRecordBegin(kFrameTimer, 1);
        dtimerRecordBegin(kDrawTimer, 1);
        std::thread first(RenderWorker, 1, frame);
        std::thread second(RenderWorker, 2, frame);
        first.join();
        second.join();
        dtimerRecordEnd(kDrawTimer);
        dtimerRecordEnd(kFrameTimer);
        printf("  frame %d/%d done\n", frame + 1, frames);
        fflush(stdout);
    }

    dtimerRecordBegin(kSnapshotTimer, 1);
    std::vector<unsigned char> snapshot = DrawSnapshot(frames);
    logDrawBitmapMgr_deviceDefault_fname(kLog, nullptr, snapshot.data(), "snapshot of frame %d\n",
                                         frames);
    dtimerRecordEnd(kSnapshotTimer);

    logPrintfMgr_deviceDefault_fname(kLog, "demo finished\n");
    logFuncEndMgr_device_fname(kLog, 0);

    if (html) printf("\nopen the log in a browser: %s.htm\n", kLog);
    std::string exeFolder = ExecutableFolder();
    std::string exeName = std::string(argv[0]).substr(std::string(argv[0]).rfind('/') + 1);
    std::string logRoot = exeFolder + "/vantrel/" + exeName;
    printf("\nlogging %s\n", ok ? "worked" : "FAILED (see the README: settings store and folder)");
    printf("log folders below %s:\n", logRoot.c_str());
    ListFolder(logRoot, "  ");

    printf("\n%-8s %8s %14s %14s\n", "timer", "count", "total (us)", "average (us)");
    const struct {
        int index;
        const char* name;
    } timers[] = {{kFrameTimer, "frame"}, {kDrawTimer, "draw"}, {kSnapshotTimer, "snapshot"}};
    for (const auto& timer : timers) {
        printf("%-8s %8d %14lld %14lld\n", timer.name, dtimerGetCount(timer.index),
               static_cast<long long>(dtimerGetElapsed(timer.index)),
               static_cast<long long>(dtimerGetAverageElapsed(timer.index)));
    }
    return ok ? 0 : 1;
}
