// Standard per-user folders on Linux (XDG base and user directories) and the start-up path
// set-up that fills the folder registry of TStringNomFitx.
//
// Folders are returned without a final '/' unless noted. Environment variables are read at each
// call (tests change them); a relative XDG value is ignored, as the XDG rules require.
#pragma once

#include "foundation/DString.h"

// $HOME, else the passwd entry of the user.
DString Linux_HomeFolder();
// The login name of the effective user (passwd entry, else $USER, else the numeric id).
DString Linux_UserName();
// $XDG_DATA_HOME, $XDG_CACHE_HOME, $XDG_CONFIG_HOME, with the XDG defaults under $HOME.
DString Linux_DataHome();
DString Linux_CacheHome();
DString Linux_ConfigHome();
// An XDG user folder ("DOCUMENTS", "DESKTOP", ...): $XDG_<key>_DIR when set and absolute, else
// the entry of $XDG_CONFIG_HOME/user-dirs.dirs, else $HOME.
DString Linux_UserDir(const char* key);
// The installed data folder (<prefix>/share/downloader2) of the running executable.
DString Linux_InstalledDataFolder();

// The program itself (the target of /proc/self/exe).
DString Mac_GetPathExe();
DString Mac_GetPathDocs();
DString Mac_GetPathAppData(); // the per-user application-data folder ($XDG_DATA_HOME)
DString Mac_GetPathDesktop();
// The private per-user temporary folder: <cache>/<app_name>/tmp/, mode 0700, with a final '/'.
// Created (and its mode tightened) here; never the shared /tmp.
DString AppleGetTempFolder(const char* app_name = "Downloader2");

// Creates the folder with its missing parents when it does not exist; errors are ignored.
// New folders get the given mode (private by default).
void VerificaCreaCarpeta(const char* folder, unsigned mode = 0700);
// Creates the folder (parents as needed) and makes it private (0700) when it is ours; for the
// folders that hold the log, settings and temporary files. False when it cannot be had.
bool Linux_PrivateFolder(const char* folder);

// Start-up (first thing, main thread): computes the application's folders for app_name
// ("Downloader2"), creates the documents, application-data and cache folders, makes the shared
// folder "Downloader" (log, configuration, settings) private, and fills the folder registry:
// executable data folder, application data, documents, temporary folder, main application folder,
// the volumes root (the program's own folder of volume links, <cache>/<app_name>/Volumes/) and
// the removable-media roots (/run/media/<user>/ and /media/<user>/).
void Apple_Init_Paths(const char* app_name);
