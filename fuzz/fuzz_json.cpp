// CJSON::Parse on any bytes: no crash, no leak, no read past the input. What a successful parse
// prints parses again; printing rounds numbers, so the text is stable from the second round on.
#include "foundation/Json.h"

#include <cstdint>
#include <cstdlib>

namespace {
DString Reprint(const DString& text) {
    CJSON node;
    if (!node.Parse(text)) std::abort();
    DString printed;
    node.PrintUnformatted(printed);
    return printed;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CJSON node;
    const bool parsed = node.Parse(reinterpret_cast<const char*>(data), size);
    DString printed;
    node.PrintUnformatted(printed);
    if (!parsed) return 0;
    const DString second = Reprint(printed);
    if (Reprint(second) != second) std::abort();
    return 0;
}
