// Network reachability: the network counts as available when a usable default route exists in
// the IPv4 or IPv6 routing table (PlatformFiles().route_ipv4 / route_ipv6). Safe from any thread.
#pragma once

#include "foundation/StringErr.h"

// True when a default route is up; otherwise appends
// "Apple_IsInternetAvailable: Not connected to internet" to err and returns false.
bool Apple_IsInternetAvailable(TStringErr& err);

// Whether the route tables (texts of /proc/net/route and /proc/net/ipv6_route) hold a default
// route that is up and not a reject ("unreachable") route. A route on any interface counts.
bool Linux_DefaultRouteIPv4(const char* route_text);
bool Linux_DefaultRouteIPv6(const char* ipv6_route_text);
