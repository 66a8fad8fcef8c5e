#include "platform/Reachability.h"

#include "platform/PlatformFiles.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

const unsigned long kRouteUp = 0x0001;     // RTF_UP
const unsigned long kRouteReject = 0x0200; // RTF_REJECT

std::vector<std::vector<std::string>> Rows(const char* text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text ? text : "");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        std::string f;
        while (fields >> f)
            row.push_back(f);
        if (!row.empty()) rows.push_back(row);
    }
    return rows;
}

bool Hex(const std::string& s, unsigned long& value) {
    if (s.empty() || s.size() > 16) return false;
    char* end = nullptr;
    value = strtoul(s.c_str(), &end, 16);
    return end && *end == 0;
}

bool Usable(unsigned long flags) {
    return (flags & kRouteUp) && !(flags & kRouteReject);
}

} // namespace

bool Linux_DefaultRouteIPv4(const char* route_text) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
    for (const auto& row : Rows(route_text)) {
        unsigned long dest, flags, mask;
        if (row.size() < 8 || !Hex(row[1], dest) || !Hex(row[3], flags) || !Hex(row[7], mask))
            continue; // the header line and anything malformed
        if (dest == 0 && mask == 0 && Usable(flags)) return true;
    }
    return false;
}

bool Linux_DefaultRouteIPv6(const char* ipv6_route_text) {
    // dest dest_len src src_len next_hop metric refcnt use flags iface
    for (const auto& row : Rows(ipv6_route_text)) {
        unsigned long plen, flags;
        if (row.size() < 10 || row[0].size() != 32 || !Hex(row[1], plen) || !Hex(row[8], flags)) continue;
        if (row[0] == std::string(32, '0') && plen == 0 && Usable(flags)) return true;
    }
    return false;
}

bool Apple_IsInternetAvailable(TStringErr& err) {
    DString text;
    if (Linux_ReadSmallFile(PlatformFiles().route_ipv4.c_str(), text) && Linux_DefaultRouteIPv4(text.c_str()))
        return true;
    if (Linux_ReadSmallFile(PlatformFiles().route_ipv6.c_str(), text) && Linux_DefaultRouteIPv6(text.c_str()))
        return true;
    err << "Apple_IsInternetAvailable: Not connected to internet";
    return false;
}
