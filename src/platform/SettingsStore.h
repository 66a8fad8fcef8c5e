// The per-user settings store: a flat dictionary of texts in an XML property list,
// "<app>-CustomInfo.plist" in the folder <app> of the application-data folder.
//
// Writes replace the whole file atomically (temporary file in the same folder, fsync, rename), so
// a crash or a full disk leaves either the old or the new store, never a mix. The store is
// private: the file is written with mode 0600 and its folder is kept at 0700. Calls are
// serialised by one process-wide lock and may come from any thread. Failures are reported only
// through the results.
#pragma once

#include "foundation/DString.h"

#include <string>
#include <utility>
#include <vector>

// folder <- application-data folder + "/" + app_name + "/"; file <- folder + app_name +
// "-CustomInfo.plist". False only when the folder cannot be formed.
bool Apple_GetApppList_Path(const char* app_name, DString& folder, DString& file);

// Creates the store when it does not exist yet: a copy of the template of the same name in the
// executable data folder when there is one, else an empty dictionary. True when the store exists
// afterwards.
bool Apple_InitFTPpList(const char* app_name);

// False when the file cannot be read as a dictionary; else the value's text ("" when absent).
bool Apple_GetValuepList(const char* file, const char* name, DString& value);

// Sets one value and rewrites the store. False when the file does not exist (it is never created
// here), cannot be read as a dictionary, holds values this store cannot rewrite without loss
// (arrays, nested dictionaries, binary data), the text cannot be stored (not UTF-8 or a control
// character other than tab and line breaks), or the write fails (the old store then stays intact).
bool Apple_SetValuepList(const char* file, const char* name, const char* value);

// ---- lower level, for tests and tools ----

// One entry of the dictionary: name, the property-list element of its value ("string",
// "integer", "true", ...) and its text ("1"/"0" for true/false).
struct TPListEntry {
    std::string name;
    std::string type;
    std::string text;
};
// Parses a property-list document whose top level is a dictionary. complex is set when it holds
// values other than scalars (they are listed with an empty text).
bool Linux_ParsePList(const std::string& xml, std::vector<TPListEntry>& out, bool* complex = nullptr);
// The XML document for a dictionary of scalars.
std::string Linux_FormatPList(const std::vector<TPListEntry>& entries);
// Writes data to path atomically with the given mode; false (target untouched) on any failure.
bool Linux_WriteFileAtomic(const char* path, const std::string& data, unsigned mode = 0600);
