// Packed files: zip archives (also under the extensions "apk" and "kmz") and tar archives, plain
// or gzip-compressed under the same ".tar" name.
//
// Listing, checking, extraction with progress and member-by-member verification, and creation of
// zip archives; the zip-member file system ('archive.zip!/member' opened in place, read-only);
// the process-wide cache of zip indexes.
//
// Entry names are untrusted: extraction refuses (and fails on) a name with a ".." or empty
// component, a leading '/', a ':' or a NUL byte, and never writes outside the destination nor
// through a symbolic link. Only names ending in '/' are folders. Every write, close and CRC is
// checked; a failed member is removed and never reported as extracted.
//
// Threads: the free functions may run on any thread (the cache takes its lock); an open member
// backend is used by one thread at a time.
#pragma once

#include "files/FicheroITV.h"
#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/Threads.h"
#include "foundation/Vectors.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <minizip/unzip.h>
#include <vector>

class TMonitorProc;

// Archive kinds, by extension (case-insensitive).
bool Es_Extension_Zip(const TStringNomFitx& name); // "zip", "apk", "kmz"
bool Es_Extension_Tar(const TStringNomFitx& name); // "tar"
bool Es_Extension_Packed(const TStringNomFitx& name);

// Member names (folder entries included) in directory order. False for an archive that cannot be
// read or has no entries.
bool GetListaZipZ(const TStringNomFitx& zip, VectorS<DString>& names);
// The same with the uncompressed sizes.
bool GetListaZipZSize(const TStringNomFitx& zip, VectorS<DString>& names, VectorS<int64_t>& sizes);
// Regular files of non-zero size, in archive order (sizes may be null). False when the archive
// does not read to its end block.
bool GetListaTarSize(const TStringNomFitx& tar, VectorS<DString>& names, VectorS<int64_t>* sizes);
// By kind; false for other kinds.
bool GetListaPacked(const TStringNomFitx& archive, VectorS<DString>& names);
bool GetListaPackedSize(const TStringNomFitx& archive, VectorS<DString>& names, VectorS<int64_t>& sizes);

// The archive reads from start to end (zip: every member's local header; tar: every block).
bool Verifica_ZIP(const TStringNomFitx& zip);
bool Verifica_TAR(const TStringNomFitx& tar);
bool Verifica_Packed(const TStringNomFitx& archive);
// Every listed member is present in folder with its size (every member is checked).
bool Verifica_ZIP_Unzipped(const TStringNomFitx& zip, const TStringNomFitx& folder);
bool Verifica_Packed_Unzipped(const TStringNomFitx& archive, const TStringNomFitx& folder);

// Checks every entry name of the open zip and makes the folders the members need below
// destination (which gets a final '/'). False for a refused name, an unreadable directory, a zip
// without entries or a folder that cannot be made.
bool CreaDirs_ZIP(TStringNomFitx& destination, unzFile zip);

// Extraction into destination (created when missing). err receives the failure text; the monitor
// (may be null) gets progress and may stop the work ("Operation canceled"); list (may be null)
// receives the path of every member completely written. Files written before a failure stay.
// The zip form gives destination a final '/'.
bool Desen_ZIP_Monitor(const TStringNomFitx& zip, TStringNomFitx& destination, DString& err,
                       TMonitorProc* monitor, VectorS<TStringNomFitx>* list);
bool Desen_TAR_Monitor(const TStringNomFitx& tar, TStringNomFitx& destination, DString& err,
                       TMonitorProc* monitor, VectorS<TStringNomFitx>* list);
// By kind, then verified; "Pack format not supported" for other kinds.
bool Desen_Packed_Monitor(const TStringNomFitx& archive, TStringNomFitx& destination, DString& err,
                          TMonitorProc* monitor, VectorS<TStringNomFitx>* list);

// Creates zip from the files (deflated, stamped now): names[i] is the name in the zip of files[i].
// False when the lists differ in length (nothing is made) or any read, write or close failed (the
// partial zip is removed). An empty list makes an empty archive. The monitor counts files.
bool Enzipa(const TStringNomFitx& zip, const VectorS<DString>& names, const VectorS<TStringNomFitx>& files,
            TMonitorProc* monitor);

// One member of a zip index.
struct TFileInZip3 {
    DString nombre;    // as stored, without one leading '/'
    DString clave;     // nombre in upper case
    int64_t numero;    // entry number in directory order, from 0
    uint64_t posicion; // the entry's position in the central directory
};

// The index of one zip archive: its members sorted by key and its folders.
class TListaFileInZip3 {
public:
    // Builds the index from the open zip. False when the directory cannot be read.
    bool CreaListaZipAdv(unzFile zip, const TStringNomFitx& name);
    // Looks the member path up, case-insensitively ('\' read as '/'). With a handle, minizip is
    // moved to that entry directly.
    bool LocateFileFast(unzFile zip, const DString& member);
    // The entry at position (members in key order, then folders), advancing position.
    bool Siguiente4(int& position, DString& name, bool& is_folder) const;
    // True when path names a folder of the archive.
    bool EsCarpeta(const DString& member) const;
    // The member's uncompressed size; -1 when it is not a member.
    int64_t Size(const DString& member) const;

    TStringNomFitx archivo;
    int64_t size_archivo = -1; // the archive file's size and modification time when indexed
    int64_t mtime_archivo = 0; // (nanoseconds): a replaced archive is indexed again
    std::vector<TFileInZip3> miembros;
    std::vector<int64_t> sizes; // uncompressed size of miembros[i]
    std::vector<DString> carpetas;

private:
    const TFileInZip3* Busca(const DString& member) const;
};

// The process-wide cache of at most three zip indexes, oldest first. Every use takes Lock();
// an index returned is valid while the caller holds the lock.
class TListaZips3 {
public:
    enum { kMaxIndices = 3 };
    static TListaZips3& Global();

    TCriticalSectionITV& Lock() { return lock_; }
    // The cached index of the archive as it is on disk now; without one: null when zip is null,
    // else an index built from zip and cached (evicting the oldest past three). remove drops a
    // cached index first, so that it is rebuilt.
    TListaFileInZip3* GetListaZips(unzFile zip, const TStringNomFitx& name, bool remove);
    // The cached index, or the archive opened, indexed, cached and closed; null when unreadable.
    TListaFileInZip3* GetListaZipsB(const TStringNomFitx& name);
    int Numero();
    void Vacia();

private:
    TCriticalSectionITV lock_;
    std::vector<std::unique_ptr<TListaFileInZip3>> indices_;
};

// A member of a zip archive opened in place: read-only.
class TFicheroITV_zip : public TFicheroITV_Base {
public:
    TFicheroITV_zip() = default;
    ~TFicheroITV_zip() override;

    // The archive part (before "!/") of name has a zip-type extension.
    static bool Smell(const TStringNomFitx& name);
    static bool Verifica_Existencia_Archivo(const TStringNomFitx& name);
    // Enumerates the archive's members (key order) and then its folders.
    static bool Siguiente3(const TStringNomFitx& archive, int& position, DString& name, bool& is_folder);

    bool Abre(const TStringNomFitx& name, int& mode, TStringErr* err, TMonitorProc* monitor) override;
    bool Cierra(TStringErr* err) override;
    bool Abierto() override { return zip_ != nullptr; }
    bool LeeBytes(void* buffer, int64_t length, int64_t& count) override;
    bool GuardaBytes(const void* data, int64_t length) override { return false; }
    bool Posicionate64(int64_t position) override;
    bool eof() override;
    int64_t PosActual64() override;
    int64_t FileSize64() override;
    bool AceptasRandomPos() override { return directo_ != nullptr; }

private:
    bool Reabre();
    bool Avanza(int64_t desde, int64_t hasta);

    unzFile zip_ = nullptr;
    TStringNomFitx archivo_;
    int64_t size_ = 0;          // uncompressed size of the member
    bool almacenado_ = false;   // stored (method 0), not encrypted
    FILE* directo_ = nullptr;   // the archive, read directly (stored members only)
    uint64_t inicio_datos_ = 0; // where the member's data begins in the archive
    int64_t pos_directo_ = 0;   // position in the member while directo_ is held
    bool directo_probado_ = false;
};

// The archive-member file system for the file layer and the file utilities ('a.zip!/x').
// Registra_Sistema_Zip registers the one process-wide instance (once; later calls do nothing).
class TSistemaZip : public TSistemaFitxITV {
public:
    bool Smell(const TStringNomFitx& name, int mode) override;
    TFicheroITV_Base* NuevoBackend(const TStringNomFitx& name) override { return new TFicheroITV_zip; }
    bool AdmiteTemporal() override { return false; }
    bool Verifica_Existencia_Archivo(const TStringNomFitx& name) override;
    bool Verifica_Existencia_Carpeta(const TStringNomFitx& name) override;
    int64_t FileSize(const TStringNomFitx& name) override;
    TListadoFitxITV* NuevoListado(const TStringNomFitx& pattern) override;
};
void Registra_Sistema_Zip();
