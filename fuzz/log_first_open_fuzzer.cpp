// A log's first opening over any earlier log and back-up (byte 0: mode, byte 1: how the rest
// splits): the earlier text is never lost or overwritten and the new text lands whole.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "log/clog.h"
#include "log/html_document.h"
#include "log/log_mode.h"
#include "support/log_text.h"

namespace {

using fuzz::Require;
using namespace vantrel;
using test::Lower;

const std::string kNewText = "new entry\r\n", kSummary = "<summary>\r\n";

class FuzzLog : public CLog {
  public:
    void Append(const std::string& text) { cache.Append(text.data(), text.size()); }
    int32_t WriteSummary() override {
        const std::string end =
            kSummary + (mode & LogModeHtml ? std::string(kHtmlEndBlock) + kHtmlClosingLine : "");
        WriteRaw(end.data(), static_cast<uint32_t>(end.size()));
        return 1;
    }
};

std::string Read(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string earlier = rest.substr(0, rest.size() * data[1] / 255);
    const std::string earlierBackUp = data[0] & 0x80 ? rest.substr(earlier.size()) : "";
    const bool html = data[0] & 1;
    const uint32_t kinds[] = {0, LogModeAppend, LogModeTruncate};
    const uint32_t mode = kinds[(data[0] >> 1) % 3] | (html ? LogModeHtml : 0);

    const std::string name = html ? "fuzz.log.htm" : "fuzz.log", path = fuzz::InFolder(name);
    std::ofstream(path, std::ios::binary) << earlier;
    unlink((path + ".bak").c_str());
    if (data[0] & 0x80) std::ofstream(path + ".bak", std::ios::binary) << earlierBackUp;

    FuzzLog log;
    Require(log.Open(1, nullptr, 2, mode, fuzz::InFolder("").c_str(), "fuzz.log", 1 << 20, 3) == 1);
    log.Append(kNewText);
    Require(log.Close() == 1);

    const std::string text = Read(path), written = kNewText + kSummary;
    if (mode & LogModeAppend) {
        // The new text follows the earlier text, or in HTML its last end block when at most a
        // start of the closing line (any case) follows; all before it is kept byte for byte.
        const uint64_t at = log.GetWritePosition() - kNewText.size();
        Require(at <= earlier.size() && text.compare(at, written.size(), written) == 0 &&
                text.compare(0, at, earlier, 0, at) == 0);
        const std::string lower = Lower(earlier), closing = Lower(kHtmlClosingLine);
        const size_t end = lower.rfind(kHtmlEndBlock);
        const bool continues = html && end != std::string::npos &&
                               closing.rfind(lower.substr(end + sizeof kHtmlEndBlock - 1), 0) == 0;
        return Require(at == (continues ? end : earlier.size())), 0;
    }
    std::string head = kHtmlHead;
    head.replace(head.find("%s"), 2, name);
    Require(text.rfind((html ? head + kHtmlBeginBlock : "") + written, 0) == 0);
    // Unless emptied, the whole earlier log went to the back-up, after what the back-up held.
    Require((mode & LogModeTruncate) || Read(path + ".bak") == earlierBackUp + earlier);
    return 0;
}
