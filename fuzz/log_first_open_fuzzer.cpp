// The first opening of a log over whatever an earlier run (or anyone else) left at its path:
// the back-up, continuing after FindEndBlock, and emptying. The first input byte picks the
// mode, the second how the rest splits into the earlier log and an earlier back-up. Whatever
// the content, the earlier text is never lost or overwritten and the new text lands whole.
#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"

namespace {

using fuzz::Read;
using fuzz::Require;
using vantrel::CLog;

constexpr char kNewText[] = "new entry\r\n";
constexpr char kSummary[] = "<summary>\r\n";

class FuzzLog : public CLog {
  public:
    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        if (mode & vantrel::LogModeHtml) {
            WriteRaw(vantrel::kHtmlEndBlock, sizeof vantrel::kHtmlEndBlock - 1);
            WriteRaw(vantrel::kHtmlClosingLine, sizeof vantrel::kHtmlClosingLine - 1);
        }
        return 1;
    }
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Whether what follows the end block at `at` is a beginning of the closing line (ignoring
// case); other text after it is never written over.
bool OnlyClosingLineAfter(const std::string& text, size_t at) {
    const std::string tail = Lower(text.substr(at + sizeof vantrel::kHtmlEndBlock - 1));
    return tail.size() <= sizeof vantrel::kHtmlClosingLine - 1 &&
           Lower(vantrel::kHtmlClosingLine).compare(0, tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t choice = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t split = rest.size() * data[1] / 255;
    const std::string earlier = rest.substr(0, split);
    const std::string earlierBackUp = rest.substr(split);
    const bool html = choice & 1;
    const uint32_t kinds[] = {0, vantrel::LogModeAppend, vantrel::LogModeTruncate};
    const uint32_t mode = kinds[(choice >> 1) % 3] | (html ? vantrel::LogModeHtml : 0);

    const std::string path = fuzz::InFolder(html ? "fuzz.log.htm" : "fuzz.log");
    const std::string backUpPath = path + ".bak";
    std::ofstream(path, std::ios::binary) << earlier;
    unlink(backUpPath.c_str());
    if (choice & 0x80) std::ofstream(backUpPath, std::ios::binary) << earlierBackUp;

    FuzzLog log;
    Require(log.Open(1, nullptr, 2, mode, fuzz::InFolder("").c_str(), "fuzz.log", 1 << 20, 3) == 1);
    log.Append(kNewText);
    Require(log.Close() == 1);

    const std::string text = Read(path);
    const std::string head = [&] {
        std::string h = vantrel::kHtmlHead;
        h.replace(h.find("%s"), 2, html ? "fuzz.log.htm" : "fuzz.log");
        return h + vantrel::kHtmlBeginBlock;
    }();
    const std::string fresh = (html ? head : "") + kNewText + kSummary;
    if (mode & vantrel::LogModeTruncate) {
        Require(text.rfind(fresh, 0) == 0);
    } else if (mode & vantrel::LogModeAppend) {
        // The new text starts after the earlier text (a text log) or at the earlier run's last
        // end block (an HTML log), and everything before it is kept byte for byte.
        const uint64_t at = log.GetWritePosition() - (sizeof kNewText - 1);
        const std::string written = std::string(kNewText) + kSummary;
        Require(at <= earlier.size());
        Require(text.compare(at, written.size(), written) == 0);
        Require(text.compare(0, at, earlier, 0, at) == 0);
        const size_t endBlock = Lower(earlier).rfind(vantrel::kHtmlEndBlock);
        if (!html || endBlock == std::string::npos || !OnlyClosingLineAfter(earlier, endBlock)) {
            Require(at == earlier.size());
        } else {
            Require(at == endBlock);
        }
    } else {
        // The whole earlier log went to the back-up, after what the back-up held.
        const std::string before = (choice & 0x80) ? earlierBackUp : "";
        Require(Read(backUpPath) == before + earlier);
        Require(text.rfind(fresh, 0) == 0);
    }
    return 0;
}
