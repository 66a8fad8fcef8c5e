// The product records of the install flow and the reading of the service's product list.
//
// TProduct is one product to install with its files (TProductLink); the devices window and the
// support report also use it as a device row. Records are plain values: copying a product copies
// every field and its links. The list reader keeps exactly the products and links the rules below
// let through; every name it keeps can be joined onto a local folder safely.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/Vectors.h"

#include <cstdint>

class CJSON;

// One file of a product.
struct TProductLink {
    DString url;             // "Url": where to download the file
    DString installPath;     // "Path": where on the device it goes ("/documents/Maps/...")
    DString name;            // "Name": the file's identity in the answer (duplicates are dropped)
    DString fileName;        // "File": the file name to store
    bool optional = false;   // "Optional" true (never for ".imp" files)
    bool download = true;    // still to be downloaded
    bool overwrite = true;   // an existing file on the device may be replaced
    bool updateable = false; // the file name carries a year version ("Radars_2021.zip")
    int64_t size = 0;        // "Size", bytes
    DString md5;             // "Md5", upper case, without double quotes
};

// One product to install, or one device row of the devices window.
struct TProduct {
    DString name; // "Name"
    DString name2;
    DString description;  // "Description"
    int32_t id = 0;       // "Id"; 0 is never listed
    int32_t retries = -1; // "Retries"
    bool selected = false;
    bool installed = false;
    // Device rows only.
    bool isPortableDevice = false;
    bool isMTP = false;
    bool isFTP = false;
    DString deviceId;
    TStringNomFitx devicePath;
    TStringNomFitx deviceRootPath;
    VectorS<TProductLink> links;
};

// The user as the service reports it.
struct TUserInfo {
    DString userName; // "UserName"
    DString email;    // "Email"
};

// Extra information of a request.
struct TURLParamsInfo {
    DString devid; // device identifier; empty: this computer
    DString other; // not sent
};

// One request: its answer and its URL.
struct TManagerCommData {
    DString resp;
    DString url;
};

// Whether a name given by the service can be joined onto a local folder. Components are split at
// '/' and '\'; none may be empty, "." or "..", and the text may hold no ':' or control character.
// An install path keeps its designed form: it must begin with '/' (the device's root) and may end
// with '/'; a file name may do neither.
bool IsSafeServerPath(const CDString& path, bool install_path);

// Year-versioned file names. F's part after its last '_', without its last extension, must be
// four digits forming a year from current_year - 20 to current_year + 5 (current_year 0: this UTC
// year). Then suffix = "_" + year + ".", base = F cut at the suffix, base_no_hd = base without
// any "_HD": 'Radars_Europe_2021.zip' gives '_2021.' and 'Radars_Europe'.
bool GetInfoUpdateableFile(const CDString& file, DString& suffix, DString& base, DString& base_no_hd,
                           int current_year = 0);
bool IsUpdateableFile(const CDString& file, int current_year = 0);
// The current UTC year of the program's clock.
int CurrentUtcYear();

// Records name in seen; false when it was there already (FileDescargarManageLista).
bool RecordLinkName(const CDString& name, VectorS<DString>& seen);

// Reads the "Products" array of an answer into list (appended), in order:
// - a link whose "Name" was seen before in the answer is dropped ("duplicate");
// - a link without "File", "Path" or "Url" is dropped; so is one whose "File" or "Path" is unsafe
//   (IsSafeServerPath), with an alarm line in the log;
// - "Optional" only for JSON true, and never for a file with extension "imp"; "Md5" upper-cased
//   without double quotes; updateable when the file name carries a year version;
// - a product is kept when it has a name, at least one link and an id other than 0.
// Returns whether any kept link is updateable.
bool ReadProductList(const CJSON* products, VectorS<TProduct>& list, int current_year = 0);
