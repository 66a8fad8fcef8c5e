// The application's version identity and the swap of a prepared replacement of the maker's earlier
// application bundle.
//
// The version is the decimal text downloader_version ("149"): hundreds, tens and units are major,
// minor and patch. Functions here are safe from any thread; the replacement runs once at start-up
// on the main thread.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"

// "%d.%d.%d" of major, minor and patch of a version text ('149' gives '1.4.9', '1' gives '0.0.1').
DString Format_Version(const CDString& version);
// Whether a newer version of the application is waiting: true when new_version_text holds one.
// Nothing in this product sets such a text, so callers always get false.
bool IsNewVersion(const CDString& new_version_text);

// The two executables the main frame computes from the main application folder: the earlier
// application "<main>/Downloader.app/Contents/MacOS/Downloader" and this one
// "<main>/Downloader2.app/Contents/MacOS/Downloader2".
TStringNomFitx PathEarlierApplication(const CDString& main_app_folder);
TStringNomFitx PathThisApplication(const CDString& main_app_folder);

// The bundle folder names that may be replaced.
extern const char* const kEarlierBundleName; // "Downloader.app"
// Prefix of the folder that holds a complete replacement beside the bundle.
extern const char* const kReplacementPrefix; // "___"
// Suffix of the folder the old bundle is moved to while its replacement is moved in.
extern const char* const kAsideSuffix; // ".___old"

// What ReplaceEarlierApplication did.
enum class EReplacement {
    kNothing,    // no replacement waiting (a finished earlier swap may have been tidied)
    kReplaced,   // the replacement is in place and the old bundle is gone
    kRefused,    // the path is not absolute, does not end in the expected names, or a folder is a link
    kRolledBack, // the swap failed; the old bundle is back in place and the replacement waits
    kFailed,     // the old bundle could not be moved aside; nothing changed
};

// Replaces the bundle of the earlier application's executable E (absolute) with the folder
// "___" + bundle name beside it, when that folder exists:
//   1. the bundle B = E's folder up two levels ("<P>/Downloader.app"), R = "<P>/___Downloader.app",
//      A = B + ".___old"; only the bundle name "Downloader.app" is accepted;
//   2. an A left by an interrupted earlier run is finished first: deleted when B exists, moved
//      back to B when neither B nor R exists;
//   3. when R is a real folder (not a link): B (when present) is renamed to A, R to B, and A is
//      deleted only after that succeeded; when moving R in fails, A goes back to B.
// Nothing is ever followed through a symbolic link: links in place of B, R or inside A are moved
// or removed as links. report receives the log lines of what happened (may be null).
EReplacement ReplaceEarlierApplication(const TStringNomFitx& earlier_exe, DString* report = nullptr);

// Deletes a folder tree without following symbolic links and without crossing into other file
// systems; a link given as the folder is removed as a link. True when nothing is left.
bool RemoveTreeNoFollow(const char* path);
