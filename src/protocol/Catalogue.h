// The message catalogue: every text the user reads is looked up by its key
// ("Txt.MgrComm.Err.Login.KO"); a key the catalogue lacks shows as the key itself.
//
// The English catalogue (a GNU gettext MO file) is built into the program. At start-up the
// application writes it into its locale folder (MoveLocaleToFolder) and selects it
// (SelectCatalogue); lookups then go through the toolkit's wxTranslations. No wxLocale is made and
// the process locale is never changed. Lookups are safe from any thread; writing and selecting
// belong to the main thread.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/StringErr.h"

#include <cstddef>
#include <initializer_list>

// The catalogue's domain: the file is "messages.mo".
extern const char* const kCatalogueDomain; // "messages"
// The locale names the catalogue is written under, each a folder "<name>/LC_MESSAGES".
extern const char* const kCatalogueLocaleNames[4]; // "en", "en_UK", "en_UK.unknown-47.lproj", ...

// The text of key in the selected catalogue; the key itself when it is missing or nothing is
// selected.
DString GetTxt(const char* key);
inline DString GetTxt(const CDString& key) {
    return GetTxt(key.c_str());
}
// The text of key with its placeholders filled (FillTxt).
DString GetTxtF(const char* key, std::initializer_list<CDString> args);

// Fills the placeholders of a catalogue text in order: each "%s", "%d", "%i", "%u", "%ld",
// "%lld", "%lu" and "%llu" takes the next text of args, "%%" gives "%". A placeholder left without
// an argument stays as written and extra arguments are ignored: the text is data, never a printf
// format, so a damaged catalogue cannot make a caller read beyond its arguments.
DString FillTxt(const CDString& text, std::initializer_list<CDString> args);

// The English catalogue built into the program (never null; size in bytes).
const unsigned char* EmbeddedCatalogue(size_t& size);

// Writes bytes as <folder>/<name>/LC_MESSAGES/messages.mo, creating the folders when missing and
// replacing an older file in one step (temporary file, then rename). False with the reason in err.
bool CreateLocale(const void* bytes, size_t size, const TStringNomFitx& folder, const char* name,
                  TStringErr& err);
// The embedded catalogue under every name of kCatalogueLocaleNames; false when any write failed
// (the others are still written).
bool MoveLocaleToFolder(const TStringNomFitx& folder, TStringErr& err);

// Loads "messages.mo" of English (en_GB, else en) from the locale folder and makes it the one
// lookups use, replacing any catalogue selected before. False when none can be loaded: lookups
// then show the keys. Main thread.
bool SelectCatalogue(const TStringNomFitx& folder);
// Drops the selected catalogue (lookups show the keys again). Main thread.
void ReleaseCatalogue();
// Whether a catalogue is selected.
bool CatalogueSelected();
