// Extracts one archive with the program's packed-file code, for bench/archives/run_bench.py.
//
//   bench_archives [--verify] ARCHIVE DESTINATION
//
// Without --verify only the extraction runs (Desen_ZIP_Monitor / Desen_TAR_Monitor), the work
// that `unzip -o -q` and `tar -xzf` do; with it, the extraction and the member verification of
// Desen_Packed_Monitor. A monitor is passed as the installer does. Exit status 0 on success.
#include "files/PackedFiles.h"
#include "foundation/Monitor.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool verify = argc > 1 && std::strcmp(argv[1], "--verify") == 0;
    if (argc != (verify ? 4 : 3)) {
        std::fprintf(stderr, "usage: %s [--verify] ARCHIVE DESTINATION\n", argv[0]);
        return 2;
    }
    TStringNomFitx archive(argv[verify ? 2 : 1]);
    TStringNomFitx dest(argv[verify ? 3 : 2]);
    DString err;
    TMonitorProc monitor;
    bool ok;
    if (verify)
        ok = Desen_Packed_Monitor(archive, dest, err, &monitor, nullptr);
    else if (Es_Extension_Zip(archive))
        ok = Desen_ZIP_Monitor(archive, dest, err, &monitor, nullptr);
    else
        ok = Desen_TAR_Monitor(archive, dest, err, &monitor, nullptr);
    if (!ok) {
        std::fprintf(stderr, "failed: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
