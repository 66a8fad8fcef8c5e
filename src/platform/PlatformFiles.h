// The system files the Linux platform layer reads, gathered in one place so that tests can point
// them at fixtures. Defaults are the real files. Change them only before the code that reads them
// runs (start-up or the start of a test); reads happen on any thread.
#pragma once

#include "foundation/DString.h"

struct TPlatformFiles {
    DString os_release = "/etc/os-release";
    DString os_release_fallback = "/usr/lib/os-release";
    DString route_ipv4 = "/proc/net/route";
    DString route_ipv6 = "/proc/net/ipv6_route";
    DString machine_id = "/etc/machine-id";
    DString machine_id_fallback = "/var/lib/dbus/machine-id";
    DString mountinfo = "/proc/self/mountinfo";
    DString self_exe = "/proc/self/exe";
};

TPlatformFiles& PlatformFiles();

// Reads a whole small system file (at most max_bytes); false when it cannot be read.
bool Linux_ReadSmallFile(const char* path, DString& out, int max_bytes = 1 << 20);
