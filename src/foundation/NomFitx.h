// TStringNomFitx: the one value type for file and folder paths, the process-wide registry of the
// application's own folders and the wildcard matcher of archive listings.
//
// A path is a DString with '/' separators; it is copied by value and does no I/O itself except
// the folder-exists check and the one-time creation of the temporary folder (both through
// TNomFitxHooks, which the file layer may replace). Forms it knows: local paths, volumes under the
// volumes root (default "/Volumes/"), archive members ("a.zip!/inner/file"), WiFi files ("FTP1:"),
// portable devices ("WPD:\\") and http URLs (never converted).
//
// Threads: values belong to one thread at a time. The registry is written during start-up on the
// main thread and only read afterwards (no lock).
#pragma once

#include "foundation/DString.h"

#include <cstdint>

class TStringNomFitx : public DString {
public:
    TStringNomFitx() noexcept = default;
    TStringNomFitx(const char* s) : DString(s) {}
    TStringNomFitx(const CDString& s) : DString(s) {}
    TStringNomFitx(const TStringNomFitx& s) : DString(s) {}
    TStringNomFitx(TStringNomFitx&& s) noexcept : DString(std::move(s)) {}
    TStringNomFitx(bool /*ignored*/, const char* s) : DString(s) {}
    TStringNomFitx& operator=(const TStringNomFitx& s) {
        DString::operator=(s);
        return *this;
    }
    TStringNomFitx& operator=(TStringNomFitx&& s) noexcept {
        DString::operator=(std::move(s));
        return *this;
    }
    TStringNomFitx& operator=(const CDString& s) {
        DString::operator=(s);
        return *this;
    }
    TStringNomFitx& operator=(const char* s) {
        DString::operator=(s);
        return *this;
    }

    // ---- Name parts (the value is not changed) ----
    DString nom_fitx_ext() const;    // after the last '/' or '\'; the whole value without either
    DString nom_fitx_sinext() const; // file name up to its last '.' (unless that '.' starts it)
    DString extension() const;       // after the last '.' of the file name, "" without one
    TStringNomFitx npath() const;    // before the last '/', "" without '/'
    TStringNomFitx npath(char sep) const;
    TStringNomFitx Obten_Carpeta() const; // npath + '/' ("/" for a name in the root folder)
    TStringNomFitx MainFile() const;      // before the last "!/"; npath without one
    TStringNomFitx SubFile() const;       // after the first '/' at or after the first '!'; "" without '!'
    void Separa_Path_Fitx(DString& folder, DString& name) const;
    // Removes one final '/' from the value, then splits it into parent (with a final '/') and name.
    bool Separa_Carpeta_Padre_y_Esta(DString& parent, DString& name);
    int Obten_Num_Carpetas() const; // number of '/'
    bool Path_Absoluto() const;
    bool Es_URL_http() const;
    bool es_extension(const char* ext) const;    // case-insensitive, ext without '.'
    bool es_extensiones(const char* list) const; // list split at ',' and ';'
    // The value as a folder: true when child lies in it (case-insensitive); len = folder length.
    bool Es_Archivo_Hijo(const char* child, int& len) const;
    bool Es_Archivo_Hijo(const char* child) const {
        int len;
        return Es_Archivo_Hijo(child, len);
    }
    bool es_extension_Imagen() const;
    bool es_extension_Video() const;
    static const char* GetExtensionesVideo();

    // ---- Composition ----
    TStringNomFitx& Set_Path_y_Fitx(const char* folder, const char* name);
    TStringNomFitx& Set_Path(const char* folder);       // keeps the file name
    TStringNomFitx& Set_nom_fitx_ext(const char* name); // keeps the folder
    TStringNomFitx& Set_nom_fitx_sinext(const char* base);
    TStringNomFitx& Cambia_Ext(const char* ext);
    TStringNomFitx& Elimina_Ultima_Extension();
    TStringNomFitx& Set_Final_Slash();
    TStringNomFitx& Quita_Final_Slash();
    using DString::operator<<;
    TStringNomFitx& operator<<(char c);           // a '/' after a final '/' is dropped
    TStringNomFitx& operator<<(const char* part); // joins with one '/'
    TStringNomFitx& operator<<(const CDString& part) { return *this << part.c_str(); }
    TStringNomFitx& Arregla_dir_carac(); // '\' -> '/', except in http URLs
    bool Resta_Path(const char* base);   // makes the value relative to base when inside it
    bool Set_Path_del_Fitx(const char* other);
    bool Descodifica_file_url(); // "file:///..." -> local path, percent-decoded
    void Quita_Solo_Lectura() {}
    // Whether the folder exists: the folder part when of_file, else the whole value.
    bool Verifica_Existencia_Carpeta(bool of_file) const;

    // Moves through folders: absolute targets replace the value, relative ones are applied
    // component by component ("..", "." and names). keep_file keeps the current file name.
    TStringNomFitx& cd(const char* target, bool keep_file = false);

    // ---- Volumes (root = Ret_Volumes_Root(), "/Volumes/" unless set) ----
    DString Obten_Unidad() const;
    TStringNomFitx Obten_Unidad_Formateada(bool ftp_aware = false) const;
    int Len_Unidad_Formateada() const;
    bool Quita_Unidad_Formateada();
    TStringNomFitx& Set_Path_Volume(const char* volume);
    // The folder that must exist for this path to be reachable; for a path on a volume (under
    // the volumes root or a removable-media root) the volume's own root, so that nothing is
    // created in place of a volume that is gone.
    TStringNomFitx Obten_Unidad_Typo() const;

    // ---- Application folders (keep the file name, replace the folder) ----
    bool Set_Path_Exe();
    bool Set_Path_ExeD(const char* sub);
    bool Set_Path_AppData();
    bool Set_Path_AppLog() { return Set_Path_AppData(); }
    bool Set_Path_Temp();
    bool SetTempFile(); // temporary folder + 10 random characters of [0-9A-V]
    static bool GetMyDocsPath(DString& folder, DString& label);
    static bool GetMyDocsExtPath(DString& folder, DString& label);
    static DString Ret_Path_Exe();
    static DString Ret_Path_AppData();
    static DString Ret_Path_AppMain();

    // ---- Path macros ----
    int CodificaNomFitx();    // main_app_path -> "$(QuillmapApp)"
    int DescodificaNomFitx(); // "$(QuillmapApp)" -> main_app_path
    bool ReducePathUser();    // registered folder prefix -> its label ("Docs", "Temp", ...)
    bool ExpandePathUser();   // label prefix -> registered folder

    // ---- Character filters ----
    void Filtra_Path_Special_Chars(int from = 0);
    void Normalize(); // for a single file-name component

    // ---- Folder registry (set at start-up, read-only afterwards) ----
    static void Set_this_Path_Exe(const char* file); // stores the file's folder
    static void Set_this_Path_de_AppData(const char* folder, bool make_temp = false);
    static void Set_this_Path_MyDocuments(const char* folder);
    static void Set_this_Path_Temp(const char* folder);
    static void Set_this_Path_Main_App(const char* folder);
    static void Set_this_Path_MyDocs_SDCard(const char* folder);
    static void Set_this_Path_Caches(const char* folder);
    static void Set_this_Path_Lib(const char* folder);
    static void Set_this_Nom_Exe(const char* name);
    // The folder whose subfolders are the volumes; stored with one final '/'. Default "/Volumes/".
    static void Set_this_Volumes_Root(const char* folder);
    static DString Ret_Volumes_Root();
    // Folders under which the desktop mounts removable media, one volume per subfolder,
    // separated by ';' (e.g. "/run/media/ana/;/media/ana/"). Empty by default.
    static void Set_this_Media_Roots(const char* list);
    // Back to the start state (all empty, volumes root "/Volumes/"); for tests and exit.
    static void Libera_Registro();
};

// Folder registry entries (read-only after start-up).
struct TRegistroCarpetas {
    DString dir_exe, global_path_app_data, app_path, dir_mydocs, dir_temp, main_app_path;
    DString dir_mydocs_sdcard, dir_caches, lib_path, nom_exe;
    DString volumes_root = "/Volumes/";
    DString media_roots; // ';'-separated, each with a final '/'
};
const TRegistroCarpetas& RegistroCarpetas();

// The two I/O operations of paths. Defaults work on local folders (stat, mkdir -p with 0700);
// the file layer may install versions that also know "FTP1:" and archive names.
struct TNomFitxHooks {
    bool (*existe_carpeta)(const char* folder) = nullptr;
    bool (*crea_carpeta)(const char* folder) = nullptr;
};
// Installed at start-up on the main thread; null members keep the default.
void Set_NomFitx_Hooks(const TNomFitxHooks& hooks);

// One entry of a folder or archive listing. Sorting compares the full paths byte-wise.
class TStringNomFitxDS : public TStringNomFitx {
public:
    TStringNomFitxDS() = default;
    TStringNomFitxDS(const char* path, int64_t size_ = -1, bool dir = false)
        : TStringNomFitx(path), size(size_), es_dir(dir) {}
    int64_t size = -1;   // bytes; -1 when listed without sizes, 0 over FTP
    bool es_dir = false; // a folder
};

// Path equality: one final '/' ignored on each side, then case-insensitive over equal lengths.
bool NomFitxIguales(const char* a, const char* b);
inline bool operator==(const TStringNomFitx& a, const TStringNomFitx& b) {
    return NomFitxIguales(a.c_str(), b.c_str());
}
inline bool operator==(const TStringNomFitx& a, const CDString& b) {
    return NomFitxIguales(a.c_str(), b.c_str());
}
inline bool operator==(const CDString& a, const TStringNomFitx& b) {
    return NomFitxIguales(a.c_str(), b.c_str());
}
inline bool operator==(const TStringNomFitx& a, const char* b) {
    return NomFitxIguales(a.c_str(), b);
}
inline bool operator==(const char* a, const TStringNomFitx& b) {
    return NomFitxIguales(a, b.c_str());
}
inline bool operator!=(const TStringNomFitx& a, const TStringNomFitx& b) {
    return !(a == b);
}
inline bool operator!=(const TStringNomFitx& a, const CDString& b) {
    return !(a == b);
}
inline bool operator!=(const CDString& a, const TStringNomFitx& b) {
    return !(a == b);
}
inline bool operator!=(const TStringNomFitx& a, const char* b) {
    return !(a == b);
}
inline bool operator!=(const char* a, const TStringNomFitx& b) {
    return !(a == b);
}

// Wildcard matching of archive listings: base and extension are matched separately.
bool Verifica_Pertenencia_Windcards(const char* pattern, const char* name);
// One '*' (the first) splits the pattern into prefix and literal suffix; '*' never spans folders.
bool Verifica_Pertenencia_Windcards_2(const char* pattern, const char* name);
