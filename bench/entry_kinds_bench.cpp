// The other entry kinds, in memory mode so that only the entry itself is measured: a
// function-begin/function-end pair, a printf entry with a local time stamp, and a bitmap
// snapshot of a 64x64 24-bit bitmap. Goes through the real library's exports.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_environment.h"

namespace vantrel::bench {
namespace {

void BM_FunctionPair_Vantrel(benchmark::State& state) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    library->printf(kFunctionsLog, "warm-up\n");  // creates the service
    for (auto _ : state) {
        if (!library->funcBegin(kFunctionsLog, 0, "CScene::Render") ||
            !library->funcEnd(kFunctionsLog, 0)) {
            state.SkipWithError("logging failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FunctionPair_Vantrel);

// The pair writes three lines; spdlog writes the two it would take to say the same.
void BM_FunctionPair_SpdlogTwoEntries(benchmark::State& state) {
    const std::string path = LogFolder() + "/spdlog-functions.log";
    auto logger = spdlog::basic_logger_st("functions", path, true);
    for (auto _ : state) {
        logger->info("{} {{", "CScene::Render");
        logger->info("}}");
    }
    state.SetItemsProcessed(state.iterations());
    spdlog::drop("functions");
    unlink(path.c_str());
}
BENCHMARK(BM_FunctionPair_SpdlogTwoEntries);

void BM_StampedEntry_Vantrel(benchmark::State& state) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    library->printf(kStampedLog, "warm-up\n");  // creates the service
    int i = 0;
    for (auto _ : state) {
        if (!library->printf(kStampedLog, kEntryFormat, ++i, kFrameName)) {
            state.SkipWithError("logging failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StampedEntry_Vantrel);

// spdlog's default pattern carries the local date and time to the millisecond.
void BM_StampedEntry_SpdlogNoFlush(benchmark::State& state) {
    const std::string path = LogFolder() + "/spdlog-stamped.log";
    auto logger = spdlog::basic_logger_st("stamped", path, true);
    int i = 0;
    for (auto _ : state) logger->info("{} items in frame {}", ++i, kFrameName);
    state.SetItemsProcessed(state.iterations());
    spdlog::drop("stamped");
    unlink(path.c_str());
}
BENCHMARK(BM_StampedEntry_SpdlogNoFlush);

// A packed 64x64 24-bit DIB: BITMAPINFOHEADER and pixels (rows of 192 bytes).
std::vector<unsigned char> MakeBitmap() {
    constexpr int kSide = 64;
    constexpr uint32_t kPixelBytes = kSide * kSide * 3;
    std::vector<unsigned char> dib(40 + kPixelBytes);
    auto put32 = [&dib](size_t at, uint32_t value) { std::memcpy(&dib[at], &value, 4); };
    auto put16 = [&dib](size_t at, uint16_t value) { std::memcpy(&dib[at], &value, 2); };
    put32(0, 40);
    put32(4, kSide);
    put32(8, kSide);
    put16(12, 1);
    put16(14, 24);
    put32(20, kPixelBytes);
    for (uint32_t i = 0; i < kPixelBytes; ++i) dib[40 + i] = static_cast<unsigned char>(i * 7);
    return dib;
}

void BM_BitmapSnapshot_Vantrel(benchmark::State& state) {
    const LoggingExports* library = Library();
    if (!library) {
        state.SkipWithError("the library could not be loaded");
        return;
    }
    std::vector<unsigned char> dib = MakeBitmap();
    library->printf(kBitmapsLog, "warm-up\n");  // creates the service
    for (auto _ : state) {
        if (!library->drawBitmap(kBitmapsLog, "shot.bmp", dib.data(), "frame %d\n", 1)) {
            state.SkipWithError("the snapshot failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BitmapSnapshot_Vantrel);

// The least a snapshot needs from the system: create the file, write the 54-byte headers and
// the pixels, close.
void BM_BitmapSnapshot_BareSyscalls(benchmark::State& state) {
    std::vector<unsigned char> dib = MakeBitmap();
    std::vector<unsigned char> file(14 + dib.size());
    std::memcpy(file.data() + 14, dib.data(), dib.size());
    const std::string path = LogFolder() + "/bare-shot.bmp";
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
        benchmark::DoNotOptimize(write(fd, file.data(), 54));
        benchmark::DoNotOptimize(write(fd, file.data() + 54, file.size() - 54));
        close(fd);
    }
    state.SetItemsProcessed(state.iterations());
    unlink(path.c_str());
}
BENCHMARK(BM_BitmapSnapshot_BareSyscalls);

}  // namespace
}  // namespace vantrel::bench
