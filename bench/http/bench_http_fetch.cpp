// Downloads one URL into a file with the program's transfer layer, as the download manager does
// (resumable: an existing "<file>.part" is resumed). Used by bench_http.py.
//
//   bench_http_fetch URL FILE [--plain] [--expected BYTES] [--cafile PEM]
//
// Exit status 0 on success; the error text goes to stderr.
#include "transfer/InternetITV.h"

#include "platform/HttpTransfer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    Http_GlobalInit();
    if (argc < 3) {
        fprintf(stderr, "usage: %s URL FILE [--plain] [--expected BYTES] [--cafile PEM]\n", argv[0]);
        return 2;
    }
    bool resumable = true;
    long long expected = -1;
    for (int i = 3; i < argc; ++i) {
        if (!strcmp(argv[i], "--plain"))
            resumable = false;
        else if (!strcmp(argv[i], "--expected") && i + 1 < argc)
            expected = atoll(argv[++i]);
        else if (!strcmp(argv[i], "--cafile") && i + 1 < argc)
            TInternetITV::Set_CAFile(argv[++i]);
    }
    TInternetITV net;
    net.Set_Resume_Download(resumable);
    TStringErr_i err;
    bool ok = net.DescargaHTTP_ITV_File(argv[1], argv[2], err, nullptr, nullptr, nullptr, resumable, nullptr,
                                        expected, nullptr);
    if (!ok) fprintf(stderr, "%s\n", err.c_str());
    return ok ? 0 : 1;
}
