#include "protocol/AppGlobals.h"

#include "protocol/CryptITV.h"

int integrity_type = 2;

const char* const kDefaultServerStatsCom = "stats.orvane.example";
const char* const kDefaultServerSupportCom = "support.orvane.example";
DString server_stats_com = kDefaultServerStatsCom;
DString server_support_com = kDefaultServerSupportCom;

DString downloader_os;
DString downloader_osType;
DString downloader_osEdition;
DString downloader_osBldVersion;
DString downloader_user;
int downloader_languageCode = 58;
DString downloader_language = "en";

DString SecretForLog(const CDString& secret) {
    DString out;
    out << "len=" << secret.Length();
    if (!secret.IsEmpty())
        out << " . hash=" << TCryptMD5::Digest(secret.c_str(), secret.Length()).SubString(0, 8);
    return out;
}
