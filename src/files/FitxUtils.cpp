#include "files/FitxUtils.h"

#include "files/FicheroITV.h"
#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "foundation/StringErr.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char kLetrasAtributos[] = "DARHSECNOT";

// The registered file system that claims name for the file utilities, or null.
TSistemaFitxITV* Sistema(const TStringNomFitx& name) {
    return TFicheroITV::BuscaSistema(name, 0);
}

// A claiming file system that serves every operation for its names (a network device).
TSistemaFitxITV* Remoto(const TStringNomFitx& name) {
    TSistemaFitxITV* s = Sistema(name);
    return s && s->EsConectable() ? s : nullptr;
}

bool EsCarpetaLocal(const char* name) {
    struct stat st;
    return *name && stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

// The name without final '/' (except the root itself).
DString SinBarraFinal(const CDString& name) {
    DString s = name;
    while (s.Length() > 1 && s.Ultimo_Caracter() == '/')
        s.Elimina_Ultimo();
    return s;
}

DString Une(const CDString& folder, const char* entry) {
    DString s = folder;
    if (!s.IsEmpty() && s.Ultimo_Caracter() != '/') s += '/';
    s += entry;
    return s;
}

void TextoError(TStringErr& err, const char* format, const CDString& name) {
    if (!err.IsEmpty()) return;
    DString t;
    t.Dsprintf(format, name.c_str());
    err = t;
}

bool CreaLocal(const TStringNomFitx& name) {
    if (EsCarpetaLocal(name.c_str())) return true;
    // A volume's root is never made: a volume that is gone must not reappear on the home disk.
    TStringNomFitx root = name.Obten_Unidad_Typo();
    if (name == root) return false;
    TStringNomFitx parent = name;
    parent.cd("..", false);
    if (parent.Length() >= name.Length()) return false;
    if (!CreaLocal(parent)) return false;
    if (mkdir(name.c_str(), 0700) == 0) return true;
    return errno == EEXIST && EsCarpetaLocal(name.c_str());
}

void MonitorTexto(TMonitorProc* monitor, const char* format, const CDString& name) {
    if (!monitor) return;
    DString t;
    t.Dsprintf(format, name.c_str());
    monitor->texto = t;
}

// End of one folder of a deletion: progress, and the stop request.
bool FinCarpeta(TMonitorProc* monitor, int count, const CDString& last, TStringErr& err) {
    if (!monitor) return true;
    monitor->npasos = count;
    MonitorTexto(monitor, "Deleting file: %s", last);
    if (monitor->HayStop()) {
        err = "Operation canceled";
        return false;
    }
    if (monitor->VersionFuncCancel()) monitor->SetFuncCancel(nullptr, nullptr);
    return true;
}

// Deletes the folder `name` (relative to parent_fd) with its content, working on descriptors so
// that no symbolic link is ever followed: a link inside is removed as a link.
bool BorraLocal(int parent_fd, const char* name, const DString& full, TStringErr& err,
                TMonitorProc* monitor) {
    int fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        TextoError(err, "Error deleting file: %s ", full);
        return false;
    }
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        TextoError(err, "Error deleting file: %s ", full);
        return false;
    }
    int count = 0;
    DString last;
    while (struct dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        bool carpeta = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            carpeta = fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        DString hijo = Une(full, e->d_name);
        if (carpeta) {
            if (!BorraLocal(fd, e->d_name, hijo, err, monitor)) {
                closedir(d);
                return false;
            }
        } else {
            if (unlinkat(fd, e->d_name, 0) != 0) {
                closedir(d);
                TextoError(err, "Error deleting file: %s ", hijo);
                return false;
            }
            count++;
            last = hijo;
        }
    }
    closedir(d);
    if (!FinCarpeta(monitor, count, last, err)) return false;
    if (unlinkat(parent_fd, name, AT_REMOVEDIR) != 0) {
        TextoError(err, "Error deleting file: %s ", full);
        return false;
    }
    return true;
}

// Deletion through a file system's listing (a network device): the folder's entries, then it.
bool BorraListado(const TStringNomFitx& folder, TStringErr& err, TMonitorProc* monitor) {
    int count = 0;
    DString last;
    {
        TStringNomFitx patron = folder;
        patron << "*.*";
        TIteradorFitx it(patron, nullptr);
        it.sin_filtro = true;
        while (it.Siguiente2()) {
            DString nom = it.nom_fitx_ext();
            if (nom == "." || nom == "..") continue;
            if (it.carpeta) {
                if (!BorraListado(it, err, monitor)) return false;
            } else {
                if (!TFitxUtils::Delete_File(it, &err)) return false;
                count++;
                last = it;
            }
        }
    }
    if (!FinCarpeta(monitor, count, last, err)) return false;
    if (!TFitxUtils::Remove_Directory(folder)) {
        TextoError(err, "Error deleting file: %s ", folder);
        return false;
    }
    return true;
}

bool HookExisteCarpeta(const char* folder) {
    return TFitxUtils::Verifica_Existencia_Carpeta(folder);
}
bool HookCreaCarpeta(const char* folder) {
    return TFitxUtils::Crea_Carpeta(folder);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Existence and attributes

bool TFitxUtils::Verifica_Existencia_Archivo(const TStringNomFitx& name) {
    if (TSistemaFitxITV* s = Sistema(name)) {
        if (s->Verifica_Existencia_Archivo(name)) return true;
        if (s->EsConectable()) return false;
    }
    if (name.IsEmpty()) return false;
    // Opened without waiting (a FIFO must not block the check), never written.
    int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return ok;
}

bool TFitxUtils::Verifica_Existencia_Carpeta(const TStringNomFitx& name, bool of_file) {
    TStringNomFitx n = of_file ? name.npath() : name;
    if (of_file && n.IsEmpty() && name.c_str()[0] == '/') n = "/";
    if (TSistemaFitxITV* s = Sistema(n)) {
        if (s->Verifica_Existencia_Carpeta(n)) return true;
        if (s->EsConectable()) return false;
    }
    return EsCarpetaLocal(n.c_str());
}

bool TFitxUtils::IsFileAttribute(const TStringNomFitx& name, int attribute) {
    if (Remoto(name) || name.IsEmpty()) return false;
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return false;
    switch (attribute) {
    case FA_DIRECTORY:
        return S_ISDIR(st.st_mode);
    case FA_ARCHIVE:
        return S_ISREG(st.st_mode);
    case FA_READONLY:
        return (st.st_mode & S_IRUSR) && !(st.st_mode & S_IWUSR) && !(st.st_mode & S_IXUSR);
    case FA_HIDDEN:
        return name.nom_fitx_ext()[0] == '.' && S_ISREG(st.st_mode);
    default:
        return false;
    }
}

char TFitxUtils::FileAttributeLetter(int attribute) {
    return attribute >= 1 && attribute <= 10 ? kLetrasAtributos[attribute - 1] : ' ';
}

DString TFitxUtils::GetFileAttributesString(const TStringNomFitx& name) {
    DString s;
    for (int a = 1; a <= 10; a++)
        s += IsFileAttribute(name, a) ? FileAttributeLetter(a) : ' ';
    return s;
}

bool TFitxUtils::IsConnectableDevice(const TStringNomFitx& name) {
    return Remoto(name) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Sizes

int64_t TFitxUtils::FileSize(const TStringNomFitx& name) {
    if (TSistemaFitxITV* s = Remoto(name)) return s->FileSize(name);
    TFicheroITV f;
    if (!f.Abre(name, FITX_LEE | FITX_BINARIO)) return 0;
    int64_t size = f.FileSize64();
    f.Cierra();
    return size;
}

bool TFitxUtils::Check_FileSize2(const TStringNomFitx& name, int64_t expected) {
    TStringNomFitx n = name;
    n.Arregla_dir_carac();
    if (Verifica_Existencia_Archivo(n)) {
        int64_t size = FileSize(n);
        if (size == expected) return true;
        DString msg;
        msg << "TFitxUtils::Check_FileSize2 . Error in file=" << n
            << " . FileSizeKb=" << static_cast<long long>(size)
            << " . WebSizeKb=" << static_cast<long long>(expected);
        CustomRegistraComun(msg);
        return false;
    }
    if (Verifica_Existencia_Carpeta(n)) return true;
    CustomRegistraComun(DString("TFitxUtils::Check_FileSize2 . File doesnt exist=") + n);
    return false;
}

void TFitxUtils::FileSizeToString(int64_t size, DString& out) {
    float v;
    const char* unidad;
    if (size <= 1023) {
        v = static_cast<float>(size);
        unidad = "b";
    } else {
        float k = static_cast<float>(size) / 1024.0f;
        float m = k / 1024.0f, g = m / 1024.0f;
        if (k < 1024.0f) {
            v = k;
            unidad = "Kb";
        } else if (m < 1024.0f) {
            v = m;
            unidad = "Mb";
        } else if (g < 1024.0f) {
            v = g;
            unidad = "Gb";
        } else {
            v = g / 1024.0f;
            unidad = "Tb";
        }
    }
    DString t;
    t.SetPrecision_Floats(2);
    t << v << unidad;
    out += t;
}

void TFitxUtils::Text_Proceso_Smart_Size(TMonitorProc* monitor, const char* format, DString& out) {
    DString a, b;
    if (monitor) {
        FileSizeToString(monitor->npasos.load(), a);
        FileSizeToString(monitor->total.load(), b);
    }
    out.Dsprintf(format ? format : "%s %s / %s %s ", " ", a.c_str(), " ", b.c_str());
}

// ---------------------------------------------------------------------------------------------
// Delete, move, copy

bool TFitxUtils::Delete_File(const TStringNomFitx& name, TStringErr* err) {
    TStringErr_i local;
    TStringErr& e = err ? *err : local;
    bool ok;
    if (TSistemaFitxITV* s = Remoto(name))
        ok = s->Delete_File(name, e);
    else
        ok = !name.IsEmpty() && remove(name.c_str()) == 0;
    if (!ok) TextoError(e, "Error deleting file: %s ", name);
    return ok;
}

bool TFitxUtils::Move_File(const TStringNomFitx& from, const TStringNomFitx& to, TStringErr* err, bool) {
    TStringErr_i local;
    TStringErr& e = err ? *err : local;
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    int n = errno;
    if (n == EXDEV) {
        // Across volumes: the destination is replaced only by a complete copy, and the source
        // goes only after that.
        return Copy(from, to, e, true, nullptr, true) && Delete_File(from, &e);
    }
    e += strerror(n);
    return false;
}

bool TFitxUtils::Copy(const TStringNomFitx& from, const TStringNomFitx& to, TStringErr& err, bool overwrite,
                      TMonitorProc* monitor, bool via_temporary) {
    TPushMonitorText caption(monitor, "", "");
    if (monitor) monitor->texto = to.nom_fitx_ext();

    if (TSistemaFitxITV* s = Remoto(to)) return s->Envia_Archivo(from, to, err, monitor);
    if (TSistemaFitxITV* s = Remoto(from)) return s->Descarga_Archivo(from, to, err, monitor);

    if (!Verifica_Existencia_Carpeta(to, true)) {
        err << "Destination folder " << to << " does not exist";
        return false;
    }
    bool existe = Verifica_Existencia_Archivo(to);
    if (existe && !overwrite) {
        err = "File in destination, already exists ";
        return true;
    }
    if (!Verifica_Existencia_Archivo(from)) {
        err = DString("File not found ") + from;
        return false;
    }
    struct stat a, b;
    if (existe && stat(from.c_str(), &a) == 0 && stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
        return true; // a file copied onto itself: opening it for writing would empty it

    TFicheroITV src, dst;
    if (!src.Abre(from, FITX_LEE | FITX_BINARIO, &err)) return false;
    if (!dst.Abre(to, FITX_ESCRIBE | FITX_BINARIO | (via_temporary ? FITX_TEMPORAL : 0), &err)) {
        src.Cierra();
        return false;
    }
    bool ok = src.CopyFileData(dst, src.FileSize64(), err, monitor);
    src.Cierra();
    if (ok) {
        TStringErr_i e;
        ok = dst.CierraEx(true, &e);
        if (!ok) err = e;
    } else {
        dst.CierraEx(false, nullptr);
    }
    // A direct copy that failed leaves no partial file that could pass for a complete one.
    if (!ok && !via_temporary) remove(to.c_str());
    if (monitor) monitor->texto.Vacia();
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Folders and volumes

bool TFitxUtils::Crea_Carpeta(const TStringNomFitx& name, bool of_file, TStringErr* err) {
    if (of_file) {
        TStringNomFitx folder = name.npath();
        folder << '/';
        return Crea_Carpeta(folder, false, err);
    }
    TStringErr_i local;
    TStringErr& e = err ? *err : local;
    bool ok;
    if (TSistemaFitxITV* s = Remoto(name))
        ok = s->Crea_Carpeta(name, e);
    else
        ok = CreaLocal(name);
    if (!ok) TextoError(e, "Error creating folder: %s", name);
    return ok;
}

bool TFitxUtils::Remove_Directory(const TStringNomFitx& name) {
    if (TSistemaFitxITV* s = Remoto(name)) return s->Remove_Directory(name);
    return Delete_File(name);
}

bool TFitxUtils::Disk_Free(const TStringNomFitx& name, int64_t& kb) {
    kb = 0;
    if (Remoto(name) || name.IsEmpty()) return false;
    struct statvfs st;
    if (statvfs(name.c_str(), &st) != 0) return false;
    kb = static_cast<int64_t>(static_cast<unsigned long long>(st.f_bavail) * st.f_frsize / 1024);
    return true;
}

bool TFitxUtils::Allow_Disk_Space(const TStringNomFitx& name, int64_t kb) {
    if (TSistemaFitxITV* s = Remoto(name)) return s->Allow_Disk_Space(name, kb);
    int64_t libre = 0;
    Disk_Free(name, libre);
    return kb < libre;
}

bool TFitxUtils::Obten_Fecha(const TStringNomFitx& name, TTemps& utc) {
    if (TSistemaFitxITV* s = Remoto(name)) return s->Obten_Fecha(name, utc);
    struct stat st;
    if (name.IsEmpty() || stat(name.c_str(), &st) != 0) return false;
    utc.Lee_time_t(st.st_mtime);
    return true;
}

TStringNomFitx TFitxUtils::Find_Dir_In_Files(const TStringNomFitx& path,
                                             const VectorS<TStringNomFitx>& list) {
    TStringNomFitx folder = path.npath();
    DString parent, name;
    if (!folder.Separa_Carpeta_Padre_y_Esta(parent, name) || name.IsEmpty()) return TStringNomFitx();
    for (int i = 0; i < list.Numero(); i++) {
        const TStringNomFitx* e = list.Ptr(i);
        if (e && e->Contains(name.c_str())) return *e;
    }
    return TStringNomFitx();
}

void TFitxUtils::Instala_Hooks_NomFitx() {
    TNomFitxHooks hooks;
    hooks.existe_carpeta = &HookExisteCarpeta;
    hooks.crea_carpeta = &HookCreaCarpeta;
    Set_NomFitx_Hooks(hooks);
}

// ---------------------------------------------------------------------------------------------
// Folder iterator

TIteradorFitx::TIteradorFitx(const TStringNomFitx& pattern, TMonitorProc*) {
    TStringNomFitx p = pattern;
    p.Arregla_dir_carac();
    if (TSistemaFitxITV* s = TFicheroITV::BuscaSistema(p, 0)) {
        listado_.reset(s->NuevoListado(p));
        if (!listado_) terminado_ = true;
        return;
    }
    carpeta_ = p.npath();
    if (carpeta_.IsEmpty() && p.c_str()[0] == '/') carpeta_ = "/";
    DString file = p.nom_fitx_ext();
    if (file != "*.*" && !file.IsEmpty()) patron_ = file;
}

TIteradorFitx::~TIteradorFitx() {
    Termina();
}

void TIteradorFitx::Termina() {
    if (dir_) closedir(dir_);
    dir_ = nullptr;
    terminado_ = true;
}

bool TIteradorFitx::SiguienteLocal() {
    if (!abierto_) {
        abierto_ = true;
        dir_ = opendir(carpeta_.IsEmpty() ? "." : carpeta_.c_str());
        if (!dir_) {
            Termina();
            return false;
        }
    }
    while (struct dirent* e = readdir(dir_)) {
        if (!patron_.IsEmpty() && fnmatch(patron_.c_str(), e->d_name, 0) != 0) continue;
        carpeta = e->d_type == DT_DIR;
        enlace = e->d_type == DT_LNK;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirfd(dir_), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                carpeta = S_ISDIR(st.st_mode);
                enlace = S_ISLNK(st.st_mode);
            }
        }
        TStringNomFitx::operator=(Une(carpeta_, e->d_name));
        size = con_size ? TFitxUtils::FileSize(*this) : -1;
        fecha = TTempsUTC();
        if (con_fecha) TFitxUtils::Obten_Fecha(*this, fecha);
        return true;
    }
    Termina();
    return false;
}

bool TIteradorFitx::Siguiente2() {
    carpeta = enlace = false;
    size = -1;
    if (!terminado_) {
        if (!listado_) {
            if (SiguienteLocal()) return true;
        } else {
            TStringNomFitx n;
            bool dir = false;
            int64_t s = -1;
            if (listado_->Siguiente(n, dir, s)) {
                TStringNomFitx::operator=(n);
                carpeta = dir;
                size = s;
                fecha = TTempsUTC();
                if (con_fecha) TFitxUtils::Obten_Fecha(*this, fecha);
                return true;
            }
            terminado_ = true;
        }
    }
    Vacia();
    return false;
}

bool TIteradorFitx::Siguiente() {
    while (Siguiente2()) {
        if (sin_filtro || (listado_ && listado_->SinFiltro())) return true;
        DString nom = nom_fitx_ext();
        if (nom == "." || nom == "..") continue;
        if (nom[0] == '.' && TFitxUtils::IsFileHidden(*this)) continue;
        return true;
    }
    return false;
}

bool TIteradorFitx::Borra_Carpeta(const TStringNomFitx& folder, TStringErr& err, TMonitorProc* monitor) {
    if (monitor && monitor->VersionFuncCancel()) {
        if (monitor->total.load() < 1) monitor->total = Num_Files_Carpeta(folder);
        monitor->SetFuncCancel(nullptr, nullptr);
    }
    if (monitor) monitor->texto.Vacia();

    if (Remoto(folder)) return BorraListado(folder, err, monitor);

    DString top = SinBarraFinal(folder);
    if (top.IsEmpty() || top == "/") {
        TextoError(err, "Error deleting file: %s ", top);
        return false;
    }
    struct stat st;
    if (lstat(top.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        // A link (or a file) in place of the folder: only the name itself goes, never its target.
        if (S_ISLNK(st.st_mode)) return TFitxUtils::Delete_File(top, &err);
        TextoError(err, "Error deleting file: %s ", top);
        return false;
    }
    return BorraLocal(AT_FDCWD, top.c_str(), top, err, monitor);
}

int TIteradorFitx::Num_Files_Carpeta(const TStringNomFitx& folder) {
    if (folder.IsEmpty()) return -1;
    TStringNomFitx patron = folder;
    patron << "*.*";
    TIteradorFitx it(patron, nullptr);
    int n = 0;
    while (it.Siguiente()) {
        if (it.carpeta)
            n += Num_Files_Carpeta(it);
        else
            n++;
    }
    return n;
}

// ---------------------------------------------------------------------------------------------
// Listing

bool TQuillUtils_Files::Files_Carpeta(const TStringNomFitx& folder, VectorS<TStringNomFitx>& list,
                                      bool recursive, bool include_folders, const char* pattern) {
    if (folder.IsEmpty()) return false;
    bool con_patron = pattern && *pattern && strcmp(pattern, "*.*") != 0;
    // Recursive: the pattern selects the files of this folder, while every subfolder is entered.
    TStringNomFitx patron = folder;
    patron << (con_patron && !recursive ? pattern : "*.*");
    TIteradorFitx it(patron, nullptr);
    while (it.Siguiente()) {
        if (recursive && con_patron && !it.carpeta && fnmatch(pattern, it.nom_fitx_ext().c_str(), 0) != 0)
            continue;
        if (it.enlace) {
            // Links are listed only when they lead to a file; a linked folder is not entered.
            struct stat st;
            if (stat(it.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        }
        if (it.carpeta) {
            if (recursive)
                Files_Carpeta(it, list, true, include_folders, "");
            else if (include_folders)
                list.Anyade(it);
        } else {
            list.Anyade(it);
        }
    }
    return true;
}
