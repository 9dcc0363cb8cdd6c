// Bitmap snapshots from arbitrary info headers and bytes: the checks the header grid makes.
#include "fuzz_support.h"
#include "log/dib_layout.h"
#include "support/snapshot_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < vantrel::kDibInfoHeaderSize) return 0;
    const std::string outcome =
        vantrel::snapshot_check::Check(data, size, fuzz::InFolder("snapshot.bmp"), 4u << 20);
    fuzz::Require(outcome == "written" || outcome == "refused" || outcome == "untried");
    return 0;
}
