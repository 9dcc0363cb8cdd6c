// The first opening of a log over whatever an earlier run (or anyone else) left at its path:
// the back-up, continuing after FindEndBlock, and emptying. The first input byte picks the
// mode, the second how the rest splits into the earlier log and an earlier back-up. Whatever
// the content, the earlier text is never lost or overwritten and the new text lands whole.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_support.h"
#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"

namespace {

using fuzz::Require;
using vantrel::kHtmlClosingLine, vantrel::kHtmlEndBlock;

constexpr char kNewText[] = "new entry\r\n";
constexpr char kSummary[] = "<summary>\r\n";

class FuzzLog : public vantrel::CLog {
  public:
    void Append(const std::string& text) { cache += text; }
    int32_t WriteSummary() override {
        WriteRaw(kSummary, sizeof kSummary - 1);
        if (mode & vantrel::LogModeHtml) {
            WriteRaw(kHtmlEndBlock, sizeof kHtmlEndBlock - 1);
            WriteRaw(kHtmlClosingLine, sizeof kHtmlClosingLine - 1);
        }
        return 1;
    }
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t choice = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string earlier = rest.substr(0, rest.size() * data[1] / 255);
    const std::string earlierBackUp = rest.substr(earlier.size());
    const bool html = choice & 1;
    const uint32_t kinds[] = {0, vantrel::LogModeAppend, vantrel::LogModeTruncate};
    const uint32_t mode = kinds[(choice >> 1) % 3] | (html ? vantrel::LogModeHtml : 0);

    const std::string name = html ? "fuzz.log.htm" : "fuzz.log", path = fuzz::InFolder(name);
    std::ofstream(path, std::ios::binary) << earlier;
    unlink((path + ".bak").c_str());
    if (choice & 0x80) std::ofstream(path + ".bak", std::ios::binary) << earlierBackUp;

    FuzzLog log;
    Require(log.Open(1, nullptr, 2, mode, fuzz::InFolder("").c_str(), "fuzz.log", 1 << 20, 3) == 1);
    log.Append(kNewText);
    Require(log.Close() == 1);

    const std::string text = Read(path);
    std::string head = vantrel::kHtmlHead;
    head.replace(head.find("%s"), 2, name);
    const std::string fresh = (html ? head + vantrel::kHtmlBeginBlock : "") + kNewText + kSummary;
    if (!(mode & vantrel::LogModeAppend)) Require(text.rfind(fresh, 0) == 0);
    if (mode & vantrel::LogModeAppend) {
        // The new text starts after the earlier text, or in an HTML log at the earlier run's
        // last end block when at most a beginning of the closing line (in any case) follows
        // it; everything before it is kept byte for byte.
        const uint64_t at = log.GetWritePosition() - (sizeof kNewText - 1);
        const std::string written = std::string(kNewText) + kSummary;
        Require(at <= earlier.size() && text.compare(at, written.size(), written) == 0 &&
                text.compare(0, at, earlier, 0, at) == 0);
        const size_t endBlock = Lower(earlier).rfind(kHtmlEndBlock);
        const std::string tail = endBlock == std::string::npos
                                     ? std::string(sizeof kHtmlClosingLine, 'x')
                                     : Lower(earlier.substr(endBlock + sizeof kHtmlEndBlock - 1));
        const bool continues = html && tail.size() <= sizeof kHtmlClosingLine - 1 &&
                               Lower(kHtmlClosingLine).compare(0, tail.size(), tail) == 0;
        Require(at == (continues ? endBlock : earlier.size()));
    } else if (!(mode & vantrel::LogModeTruncate)) {
        // The whole earlier log went to the back-up, after what the back-up held.
        Require(Read(path + ".bak") == ((choice & 0x80) ? earlierBackUp : "") + earlier);
    }
    return 0;
}
