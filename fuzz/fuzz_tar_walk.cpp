// libFuzzer target: the tar walk over arbitrary bytes, with the entry-name checks that
// extraction applies to every name it is given.
#include "files/TarWalk.h"
#include "files/ZipNames.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class Sink : public TTarSink {
public:
    bool Inicio(const TTarEntry& e) override {
        if (e.size <= 0) std::abort();
        std::string clean;
        ENombreEntrada k = Limpia_Nombre_Entrada(e.name, clean);
        if (k != ENombreEntrada::Hostil && (clean.find("..") == 0 || (!clean.empty() && clean[0] == '/')))
            std::abort(); // a clean name never climbs out of the destination
        resto_ = e.size;
        return true;
    }
    bool Datos(const char*, size_t n) override {
        if (static_cast<int64_t>(n) > resto_) std::abort(); // never past the entry's size
        resto_ -= static_cast<int64_t>(n);
        return true;
    }
    bool Fin() override {
        if (resto_ != 0) std::abort();
        return true;
    }

private:
    int64_t resto_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TTarSourceMem src(data, size);
    Sink sink;
    std::string why;
    Recorre_Tar(src, sink, &why);
    return 0;
}
