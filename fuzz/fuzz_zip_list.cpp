// libFuzzer target: zip listing, the header check and the member index over arbitrary bytes,
// read by minizip from an in-memory file.
#include "files/PackedFiles.h"
#include "files/ZipNames.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = memfd_create("fuzz.zip", MFD_CLOEXEC);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t w = write(fd, data + done, size - done);
        if (w <= 0) break;
        done += static_cast<size_t>(w);
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    TStringNomFitx zip(path.c_str());

    VectorS<DString> names;
    VectorS<int64_t> sizes;
    if (GetListaZipZSize(zip, names, sizes)) {
        for (int i = 0; i < names.Numero(); ++i) {
            std::string clean;
            Limpia_Nombre_Entrada(names[i].c_str(), static_cast<size_t>(names[i].Length()), clean);
        }
    }
    Verifica_ZIP(zip);

    if (unzFile z = unzOpen64(path.c_str())) {
        TListaFileInZip3 index;
        if (index.CreaListaZipAdv(z, zip)) {
            int pos = 0;
            DString name;
            bool folder;
            while (index.Siguiente4(pos, name, folder)) {
                if (!folder && index.LocateFileFast(z, name) && unzOpenCurrentFile(z) == UNZ_OK) {
                    char buf[4096];
                    int budget = 64; // a few blocks of each member
                    while (budget-- > 0 && unzReadCurrentFile(z, buf, sizeof buf) > 0) {
                    }
                    unzCloseCurrentFile(z);
                }
            }
        }
        unzClose(z);
    }
    close(fd);
    return 0;
}
