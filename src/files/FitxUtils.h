// File-system operations that behave alike for local paths and for the names that registered file
// systems serve (archive members, "FTP1:" files on the WiFi device; see TSistemaFitxITV), a folder
// iterator and recursive listings.
//
// Every operation reports failure by a false result and, where it takes one, a text in the
// TStringErr (a pointer may be null); none throws. No state is kept: the calls are safe from any
// thread. Local iteration and deletion never follow symbolic links, so they never leave the folder
// they were given. Sizes are signed 64-bit byte counts; free space is in KB of 1024 bytes.
#pragma once

#include "files/FicheroITV.h"
#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/Temps.h"
#include "foundation/Vectors.h"

#include <cstdint>
#include <dirent.h>
#include <memory>

class TStringErr;
class TMonitorProc;

// File attributes, each with one letter of "DARHSECNOT". Only D, A, R and H can hold, and only for
// local names.
enum FileAttribute {
    FA_DIRECTORY = 1, // D: a folder
    FA_ARCHIVE = 2,   // A: a regular file
    FA_READONLY = 3,  // R: owner-read set, owner-write and owner-execute clear
    FA_HIDDEN = 4,    // H: a regular file whose name begins with '.'
    FA_SYSTEM = 5,
    FA_ENCRYPTED = 6,
    FA_COMPRESSED = 7,
    FA_NORMAL = 8,
    FA_OFFLINE = 9,
    FA_TEMPORARY = 10,
};

class TFitxUtils {
public:
    // The file exists and is not a folder (a 0-byte file on a WiFi device counts as missing).
    static bool Verifica_Existencia_Archivo(const TStringNomFitx& name);
    // The folder exists; with of_file the folder part of name is tested.
    static bool Verifica_Existencia_Carpeta(const TStringNomFitx& name, bool of_file = false);
    static bool IsFileAttribute(const TStringNomFitx& name, int attribute);
    static bool IsFileReadOnly(const TStringNomFitx& name) { return IsFileAttribute(name, FA_READONLY); }
    static bool IsFileHidden(const TStringNomFitx& name) { return IsFileAttribute(name, FA_HIDDEN); }
    // Ten characters: the letter of each attribute 1..10 that holds, else ' '.
    static DString GetFileAttributesString(const TStringNomFitx& name);
    // The letter of an attribute; ' ' outside 1..10.
    static char FileAttributeLetter(int attribute);
    // The name is served by a network device file system ("FTP1:").
    static bool IsConnectableDevice(const TStringNomFitx& name);
    static bool IsRemovableUnit(const TStringNomFitx& name) { return false; }

    // Size in bytes; 0 when the file cannot be opened (-1 from a WiFi device that does not know it).
    static int64_t FileSize(const TStringNomFitx& name);
    static int64_t Tamanyo_Archivo_b(const TStringNomFitx& name) { return FileSize(name); }
    // The file has exactly the expected size; an existing folder of that name passes. Mismatches and
    // missing files are logged.
    static bool Check_FileSize2(const TStringNomFitx& name, int64_t expected);

    // Deletes a file (or an empty folder). "Error deleting file: %s " when no other text was set.
    static bool Delete_File(const TStringNomFitx& name, TStringErr* err = nullptr);
    // rename(); across volumes a copy through a temporary and then the delete of the source (which
    // stays when the copy fails). Local names only. The flag has no effect.
    static bool Move_File(const TStringNomFitx& from, const TStringNomFitx& to, TStringErr* err = nullptr,
                          bool flag = false);
    // Copies a file. An existing destination without overwrite: true, nothing copied, text "File in
    // destination, already exists ". With via_temporary the destination is replaced only when the
    // copy is complete. False when the data, the close or the commit failed or the monitor cancelled;
    // then the destination is left as it was when via_temporary is on.
    static bool Copy(const TStringNomFitx& from, const TStringNomFitx& to, TStringErr& err,
                     bool overwrite = true, TMonitorProc* monitor = nullptr, bool via_temporary = false);
    static bool Copy_File(const TStringNomFitx& from, const TStringNomFitx& to, bool fail_if_exists,
                          TStringErr& err) {
        return Copy(from, to, err, !fail_if_exists, nullptr, false);
    }

    // Creates the folder and its missing parents (mode 0700); with of_file the folder part of name.
    // True when the folder exists afterwards. Never creates the root of a volume (a volume that is
    // gone stays gone). "Error creating folder: %s" when no other text was set.
    static bool Crea_Carpeta(const TStringNomFitx& name, bool of_file = false, TStringErr* err = nullptr);
    // Removes an empty folder.
    static bool Remove_Directory(const TStringNomFitx& name);
    // Free KB of the volume holding name (statvfs); false with 0 when unknown ("FTP1:" included).
    static bool Disk_Free(const TStringNomFitx& name, int64_t& kb);
    // kb fit strictly below the free space (the device answers for "FTP1:").
    static bool Allow_Disk_Space(const TStringNomFitx& name, int64_t kb);
    // Modification time as UTC.
    static bool Obten_Fecha(const TStringNomFitx& name, TTemps& utc);

    // Appends '512.00b', '1.50Kb', '5.00Mb', ... ('0b' for 0).
    static void FileSizeToString(int64_t size, DString& out);
    // out = format filled with " ", the monitor's position, " ", its total (as FileSizeToString).
    static void Text_Proceso_Smart_Size(TMonitorProc* monitor, const char* format, DString& out);
    // The first entry of list that contains the name of the folder holding path; empty when none.
    static TStringNomFitx Find_Dir_In_Files(const TStringNomFitx& path, const VectorS<TStringNomFitx>& list);

    // Makes the path type's folder check and folder creation (TNomFitxHooks) go through these
    // utilities, so that they know the names of registered file systems. Once, at start-up.
    static void Instala_Hooks_NomFitx();
};

// Folder iterator. The object is itself the full name of the current entry.
//
//   TIteradorFitx it("/a/b/*.ini", nullptr);
//   while (it.Siguiente()) use(it, it.carpeta);
//
// The pattern path is a folder, '/', and a file pattern ("*.*" for all; fnmatch on the entry's
// name), or a name that a registered file system lists (archive members, WiFi folders). Local
// entries are never followed through symbolic links: a link is reported as a non-folder with
// enlace set. One thread uses one iterator.
class TIteradorFitx : public TStringNomFitx {
public:
    TIteradorFitx(const TStringNomFitx& pattern, TMonitorProc* monitor = nullptr);
    ~TIteradorFitx();
    TIteradorFitx(const TIteradorFitx&) = delete;
    TIteradorFitx& operator=(const TIteradorFitx&) = delete;

    // The next entry that passes the filter ("." and "..", and hidden files, are skipped unless
    // sin_filtro is set or the file system returns its entries as they are). False at the end.
    bool Siguiente();
    // The next raw entry.
    bool Siguiente2();

    // Deletes a folder with everything in it. A symbolic link inside is removed as a link; when
    // folder itself is a link, only the link goes. Cancel through the monitor: "Operation canceled".
    static bool Borra_Carpeta(const TStringNomFitx& folder, TStringErr& err, TMonitorProc* monitor = nullptr);
    // Files (non-folders, hidden ones not counted) in the folder and its subfolders; -1 for "".
    static int Num_Files_Carpeta(const TStringNomFitx& folder);

    // Options (off after construction).
    bool con_fecha = false;  // fill fecha (UTC modification time)
    bool con_size = false;   // fill size (else -1)
    bool sin_filtro = false; // Siguiente returns every entry

    // The current entry.
    bool carpeta = false;
    bool enlace = false; // a symbolic link (local folders only)
    int64_t size = -1;
    TTempsUTC fecha; // with con_fecha (the null time when it cannot be read)

private:
    bool SiguienteLocal();
    void Termina();

    TStringNomFitx carpeta_; // local folder
    DString patron_;         // file pattern; empty for all
    DIR* dir_ = nullptr;
    bool abierto_ = false; // the local folder was opened (or could not be)
    bool terminado_ = false;
    std::unique_ptr<TListadoFitxITV> listado_; // a registered file system's listing
};

// The folder listing of the maker's utility class; TQuillUtils (device layer) derives from it.
class TQuillUtils_Files {
public:
    // Appends the files of folder matching pattern ("*.*" when empty) to list; recursive: every file
    // of the subfolders as well (the pattern applies to the top folder only), else folders too when
    // include_folders. Hidden files, "." and ".." never appear; links to folders are not followed
    // and not listed. False for an empty folder name.
    static bool Files_Carpeta(const TStringNomFitx& folder, VectorS<TStringNomFitx>& list, bool recursive,
                              bool include_folders, const char* pattern);
};
