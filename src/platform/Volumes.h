// Mounted volumes on Linux.
//
// The path code knows one volumes root (TStringNomFitx::Ret_Volumes_Root). By default the
// program keeps a folder of its own there and, before each scan, fills it with one symbolic link
// per removable volume mounted by the desktop under a media root (/run/media/<user>/NAME or
// /media/<user>/NAME), read from the mount table (/proc/self/mountinfo). Links of volumes that
// are gone are removed, so a path on a gone volume does not exist and nothing is written to the
// home disk in its place. The refresh touches nothing in that folder but its own links.
// `VolumesRoot=` in the configuration replaces all this with a folder whose subfolders are the
// volumes, used as it is.
//
// Threads: the override is set on the main thread at start-up; the refresh may run on a worker
// (one at a time: it is serialised by a lock).
#pragma once

#include "foundation/DString.h"

#include <cstdint>
#include <string>
#include <vector>

// One line of a mountinfo table; texts have their escapes (\040 and kin) decoded.
struct TMountEntry {
    int id = 0;
    int parent = 0;
    std::string root; // the mounted subtree of its file system
    std::string mount_point;
    std::string options;
    std::string fstype;
    std::string source;
};

// Parses a mountinfo text; malformed lines are skipped.
std::vector<TMountEntry> Linux_ParseMountInfo(const char* text);
// Decodes the octal escapes of the mount table ("\040" is a blank).
std::string Linux_DecodeMountEscapes(const std::string& s);

// A removable volume: its name (the last component of its mount point) and mount point.
struct TRemovableVolume {
    std::string name;
    std::string mount_point;
};
// The mounts that sit directly under one of the media roots (each ending in '/'), one per name
// (the latest mount of a mount point wins; the first mount point of a name is kept).
std::vector<TRemovableVolume> Linux_RemovableVolumes(const std::vector<TMountEntry>& mounts,
                                                     const std::vector<std::string>& media_roots);

// Brings the links folder in line with the volumes: a link name -> mount point per volume, our
// stale links removed. A link is ours when its target is a folder directly under one of the media
// roots. Entries that are not ours are left alone (and a volume whose name they take gets no
// link). report (optional) receives " . name=target" for every link present afterwards and
// " . removed=name" / " . skipped=name" notes, for the caller's log. False when the folder
// cannot be made or read.
bool Linux_RefreshVolumeLinks(const char* links_folder, const std::vector<TMountEntry>& mounts,
                              const std::vector<std::string>& media_roots, DString* report = nullptr);

// The refresh the device scan runs before listing the volumes root: reads the mount table
// (PlatformFiles().mountinfo) and refreshes the registered root with the registered media roots.
// Does nothing (true) while a `VolumesRoot=` override is in force or no media roots are set.
bool Linux_RefreshVolumesRoot(DString* report = nullptr);

// `VolumesRoot=` of the configuration: the folder becomes the volumes root as it is (no links);
// an empty text is ignored.
void Linux_SetVolumesRootOverride(const char* folder);
bool Linux_VolumesRootIsOverride();
// Ends the override (the volumes root itself is left as it is); for tests.
void Linux_ClearVolumesRootOverride();

// Space of the file system holding path (statvfs): bytes available to the user and in total.
// False (both 0) when the path cannot be measured.
bool Linux_FreeSpace(const char* path, int64_t& free_bytes, int64_t* total_bytes = nullptr);
