// Process-wide values of the run that several layers read: the configuration read from
// "downloader.cfg" at start-up (besides server_www_com, protocol/ServerProtocol.h) and the
// description of the user and the computer that statistics and support reports carry.
//
// Written on the main thread during start-up and login (before any worker reads them), read-only
// afterwards.
#pragma once

#include "foundation/DString.h"

// File integrity level of the integrity checks; "IntegrityType=" replaces it.
extern int integrity_type; // 2

// Hosts (with an optional ":port") of the statistics and support services; "StatsServerUrl=" and
// "SupportServerUrl=" replace them.
extern const char* const kDefaultServerStatsCom;
extern const char* const kDefaultServerSupportCom;
extern DString server_stats_com;
extern DString server_support_com;

// The operating system (GetOSVersion, GetOSType, GetOSEdition, GetOSBldVersion), filled by the main
// frame at start.
extern DString downloader_os;
extern DString downloader_osType;
extern DString downloader_osEdition;
extern DString downloader_osBldVersion;
// The user's e-mail, set by the login.
extern DString downloader_user;
// The interface language: always 58 and "en".
extern int downloader_languageCode;
extern DString downloader_language;

// A secret (install parameters, password, token, session id) as the log may show it: its length
// and the first 8 hex digits of its MD5, "len=12 . hash=1A2B3C4D"; "len=0" for the empty text.
DString SecretForLog(const CDString& secret);
