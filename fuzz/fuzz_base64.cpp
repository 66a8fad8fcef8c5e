// Base64 decoding on any bytes; accepted texts decode to bytes that encode back to a text with
// the same bytes, and any bytes survive encoding and decoding.
#include "protocol/CryptITV.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::string bytes;
    if (CodBase64Str_to_String(text, size, bytes)) {
        if (bytes.size() > size / 4 * 3) std::abort();
        const std::string again = String_to_Base64Str(bytes.data(), bytes.size());
        std::string back;
        if (!CodBase64Str_to_String(again.data(), again.size(), back) || back != bytes) std::abort();
    }
    // The zero-terminated interface reads only up to the first zero byte.
    const std::string whole(text, size);
    DStringB out;
    CodBase64Str_to_String(whole.c_str(), out);

    const std::string encoded = String_to_Base64Str(data, size);
    std::string decoded;
    if (!CodBase64Str_to_String(encoded.data(), encoded.size(), decoded) || decoded != whole) std::abort();
    return 0;
}
