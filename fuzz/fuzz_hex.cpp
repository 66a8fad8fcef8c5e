// Hex decoding on any bytes; accepted texts round-trip through the upper-case form.
#include "protocol/CryptITV.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <strings.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::string bytes;
    if (SacaHexa(text, size, bytes)) {
        const std::string upper = HexaMayusculas(bytes.data(), bytes.size());
        if (upper.size() != size || strncasecmp(upper.data(), text, size) != 0) std::abort();
    }
    std::string back;
    const std::string encoded = HexaMayusculas(data, size);
    if (!SacaHexa(encoded.data(), encoded.size(), back) || back != std::string(text, size)) std::abort();
    return 0;
}
