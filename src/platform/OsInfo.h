// Operating-system identification texts, the platform name and the computer's identifier.
//
// Each text function clears its output first and returns true unless noted. The version triple
// comes from VERSION_ID of os-release (PlatformFiles().os_release, then the fallback), numbers
// missing there are 0. Safe from any thread.
#pragma once

#include "foundation/DString.h"

bool GetOSVersion(DString& out);    // "major.minor.patch", e.g. "12.0.0"
bool GetOSType(DString& out);       // "Linux " + major "." minor
bool GetOSEdition(DString& out);    // the patch number alone
bool GetOSBldVersion(DString& out); // the kernel release (uname)
bool GetCarrier(DString& out);      // always empty; returns false
bool GetPlatformName(DString& out); // "linux"

// The three version numbers from an os-release text (VERSION_ID, quoted or not).
void Linux_ParseOsRelease(const char* text, int& major, int& minor, int& patch);

// An identifier of this computer for the maker's services: 64 hex digits of an HMAC-SHA256 keyed
// with /etc/machine-id (PlatformFiles().machine_id) over an application-specific salt, so the
// raw machine id never leaves the computer. Without a usable machine id, a random identifier
// that stays the same for the whole run. Always true.
bool GetComputerId(DString& out);

// Does nothing; marks places where a debugger could stop.
inline void DebugBreak() {}
