// Desencripta of every method on any text, and the zlib step on any bytes: no crash, no leak,
// no assertion inside the cipher library. The first byte chooses the method.
#include "protocol/CryptITV.h"

#include <cstdint>
#include <string>

namespace {
const char* const kMethods[] = {
    "TwoFish", "TwoFishBase64", "ZipTwoFishBase64", "ZipTwoFishHexa", "ITV7", "crypt23", "NSM",
    "MD5",     "other"};
const int kCount = sizeof kMethods / sizeof kMethods[0];
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int choice = data[0] % (kCount + 1);
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (choice == kCount) {
        std::string bytes = rest;
        ZipCompressionUtil::Decompress(bytes);
        return 0;
    }
    TCryptITV crypt(kMethods[choice]);
    crypt.Carga_Llave("Fz3-Qa8.Yt1_Ue6+Io4=Pl9:Dk2,Sj7");
    DString plain;
    DStringB bytes;
    crypt.Desencripta(rest.c_str(), plain, bytes);
    return 0;
}
