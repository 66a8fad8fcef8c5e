#include "files/PackedFiles.h"

#include "files/FitxUtils.h"
#include "files/TarWalk.h"
#include "files/ZipDestino.h"
#include "files/ZipNames.h"
#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "foundation/StringErr.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <minizip/zip.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBloqueCopia = 256000;

// Closes a minizip reader on scope exit.
struct TCierraUnz {
    unzFile z;
    ~TCierraUnz() {
        if (z) unzClose(z);
    }
};

// The current entry's information and its whole name (the buffer is sized from the entry).
bool Info_Entrada(unzFile z, unz_file_info64& fi, std::string& name) {
    char corto[256];
    if (unzGetCurrentFileInfo64(z, &fi, corto, sizeof corto, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (fi.size_filename < sizeof corto) {
        name.assign(corto, fi.size_filename);
        return true;
    }
    std::unique_ptr<char[]> largo(new char[fi.size_filename + 1]);
    if (unzGetCurrentFileInfo64(z, &fi, largo.get(), fi.size_filename + 1, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    name.assign(largo.get(), fi.size_filename);
    return true;
}

bool Es_Carpeta_Zip(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}
bool Cifrado(const unz_file_info64& fi) {
    return (fi.flag & 1) != 0;
}

bool Stat_Archivo(const char* path, int64_t& size, int64_t& mtime) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    size = st.st_size;
    mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

DString Sistema(int err) {
    return DString(std::strerror(err));
}

void Registra_Fallo(const char* where, const CDString& err, const char* detail) {
    DString line = DString("Error ") + where + " . " + err;
    if (detail && *detail) line << " . reason=" << detail;
    CustomRegistraComun(line);
}

// Progress text of this module.
void SetStrMonitorState(TMonitorProc* monitor, int files, const CDString& name) {
    if (!monitor) return;
    DString t;
    t.Dsprintf("%d Kb / %d Kb uncompressed. %d files. (%s)", static_cast<int>(monitor->npasos.load() / 1024),
               static_cast<int>(monitor->total.load() / 1024), files,
               TStringNomFitx(name).nom_fitx_ext().c_str());
    monitor->texto = t;
}

void Gancho_Cancelar(void*) {}

// Installs the extraction's cancel hook on a marked monitor and resets its counters; takes the
// hook away again on every way out.
class TGanchoMonitor {
public:
    explicit TGanchoMonitor(TMonitorProc* m) : m_(m && m->VersionFuncCancel() ? m : nullptr) {
        if (!m_) return;
        m_->SetFuncCancel(Gancho_Cancelar, nullptr);
        m_->npasos = 0;
        m_->total = 0;
    }
    ~TGanchoMonitor() {
        if (m_) m_->SetFuncCancel(nullptr, nullptr);
    }

private:
    TMonitorProc* m_;
};

bool Parado(TMonitorProc* monitor) {
    return monitor && monitor->stop.load();
}

bool Anyade_Nombre(VectorS<DString>& names, const std::string& name) {
    std::string s = name.substr(0, name.find('\0'));
    names.Anyade(DString(s.c_str()));
    return true;
}

// Walks the zip's directory: checks every name, makes the folders the members need and adds up
// the members' sizes. destination gets its final '/'.
bool Prepara_Zip(TStringNomFitx& destination, unzFile z, TZipDestino& out, int64_t* total, std::string& why) {
    destination.Set_Final_Slash();
    TFitxUtils::Crea_Carpeta(destination);
    if (!out.Abre(destination.c_str())) {
        why = std::strerror(out.Error());
        return false;
    }
    int r = unzGoToFirstFile(z);
    if (r != UNZ_OK) {
        why = "no entries";
        return false;
    }
    int64_t suma = 0;
    for (; r == UNZ_OK; r = unzGoToNextFile(z)) {
        unz_file_info64 fi;
        std::string name, clean;
        if (!Info_Entrada(z, fi, name)) {
            why = "unreadable entry";
            return false;
        }
        switch (Limpia_Nombre_Entrada(name, clean)) {
        case ENombreEntrada::Hostil:
            why = "refused entry name " + name.substr(0, name.find('\0'));
            return false;
        case ENombreEntrada::Vacio:
            continue;
        case ENombreEntrada::Carpeta:
            if (!out.Crea_Carpetas(clean)) {
                why = clean + ": " + std::strerror(out.Error());
                return false;
            }
            continue;
        case ENombreEntrada::Archivo: {
            size_t slash = clean.rfind('/');
            if (slash != std::string::npos && !out.Crea_Carpetas(clean.substr(0, slash))) {
                why = clean + ": " + std::strerror(out.Error());
                return false;
            }
            suma += static_cast<int64_t>(fi.uncompressed_size);
        }
        }
    }
    if (r != UNZ_END_OF_LIST_OF_FILE) {
        why = "unreadable directory";
        return false;
    }
    if (total) *total = suma;
    return true;
}

// ---- tar ----

TTarResult Recorre_Tar_Archivo(const TStringNomFitx& tar, TTarSink& sink, bool& abierto, bool& cerrado,
                               std::string* why) {
    TTarSourceGz in;
    abierto = in.Abre(tar.c_str());
    cerrado = false;
    if (!abierto) return TTarResult::Lectura;
    TTarResult r = Recorre_Tar(in, sink, why);
    cerrado = in.Cierra();
    return r;
}

class TTarLista : public TTarSink {
public:
    TTarLista(VectorS<DString>* names, VectorS<int64_t>* sizes) : names_(names), sizes_(sizes) {}
    bool Inicio(const TTarEntry& e) override {
        if (names_) Anyade_Nombre(*names_, e.name);
        if (sizes_) sizes_->Anyade(e.size);
        return true;
    }
    bool Datos(const char*, size_t) override { return true; }
    bool Fin() override { return true; }

private:
    VectorS<DString>* names_;
    VectorS<int64_t>* sizes_;
};

class TTarExtrae : public TTarSink {
public:
    TTarExtrae(const TStringNomFitx& tar, const TStringNomFitx& dest, TZipDestino& out, TMonitorProc* monitor,
               VectorS<TStringNomFitx>* list)
        : tar_(tar), dest_(dest), out_(out), monitor_(monitor), list_(list) {}

    bool Inicio(const TTarEntry& e) override {
        ruta_.Set_Path_y_Fitx(dest_.c_str(), e.name.substr(0, e.name.find('\0')).c_str());
        ruta_.Arregla_dir_carac();
        if (Limpia_Nombre_Entrada(e.name, rel_) != ENombreEntrada::Archivo) {
            err = DString("Error creating file=") + ruta_ + " from tar file=" + tar_;
            Registra_Fallo("Desen_TAR_Monitor", err, "refused entry name");
            return false;
        }
        ruta_.Set_Path_y_Fitx(dest_.c_str(), rel_.c_str());
        if (!out_.Crea_Archivo(rel_, salida_)) {
            err = DString("Error creating file=") + ruta_ + " from tar file=" + tar_;
            Registra_Fallo("Desen_TAR_Monitor", err, std::strerror(out_.Error()));
            return false;
        }
        ++archivos;
        return true;
    }
    bool Datos(const char* p, size_t n) override {
        if (salida_.Escribe(p, n)) return true;
        return Falla_Escritura();
    }
    bool Fin() override {
        if (!salida_.Cierra()) return Falla_Escritura();
        if (list_) list_->Anyade(ruta_);
        return true;
    }
    bool Progreso(int64_t offset) override {
        if (!monitor_) return true;
        monitor_->iSetnpasos(offset);
        SetStrMonitorState(monitor_, archivos, ruta_);
        if (Parado(monitor_)) {
            err = "Operation canceled";
            Quita_Parcial();
            return false;
        }
        return true;
    }

    const TStringNomFitx& Ultima() const { return ruta_; }

    int archivos = 0;
    DString err;

private:
    bool Falla_Escritura() {
        err = DString("Error writing file=") + ruta_ + " from tar file=" + tar_;
        Registra_Fallo("Desen_TAR_Monitor", err, std::strerror(salida_.Error()));
        Quita_Parcial();
        return false;
    }
    void Quita_Parcial() {
        if (!salida_.Abierto()) return;
        salida_.Cierra();
        out_.Borra_Archivo(rel_);
    }

    const TStringNomFitx& tar_;
    const TStringNomFitx& dest_;
    TZipDestino& out_;
    TMonitorProc* monitor_;
    VectorS<TStringNomFitx>* list_;
    TZipSalida salida_;
    std::string rel_;
    TStringNomFitx ruta_;
};

bool Verifica_Lista(const TStringNomFitx& folder, VectorS<DString>& names, VectorS<int64_t>& sizes) {
    bool ok = true;
    for (int i = 0; i < names.Numero(); ++i) {
        std::string clean;
        ENombreEntrada k = Limpia_Nombre_Entrada(names[i].c_str(), names[i].Length(), clean);
        if (k == ENombreEntrada::Vacio) continue;
        if (k == ENombreEntrada::Hostil) {
            ok = false;
            continue;
        }
        TStringNomFitx path;
        path.Set_Path_y_Fitx(folder.c_str(), clean.c_str());
        if (!TFitxUtils::Check_FileSize2(path, sizes[i])) ok = false;
    }
    return ok;
}

std::once_flag registro_zip;

} // namespace

// ---------------------------------------------------------------------------------------------
// Kinds and listings

bool Es_Extension_Zip(const TStringNomFitx& name) {
    return name.es_extension("zip") || name.es_extension("apk") || name.es_extension("kmz");
}
bool Es_Extension_Tar(const TStringNomFitx& name) {
    return name.es_extension("tar");
}
bool Es_Extension_Packed(const TStringNomFitx& name) {
    return Es_Extension_Zip(name) || Es_Extension_Tar(name);
}

// Calls visita(z, info, name) for every entry of the zip, in order; false when the archive cannot
// be opened, holds no entry, an entry cannot be read or visita returns false.
template <class Visita> static bool Recorre_Zip(const TStringNomFitx& zip, Visita visita) {
    TCierraUnz z{unzOpen64(zip.c_str())};
    if (!z.z) return false;
    int r = unzGoToFirstFile(z.z);
    if (r != UNZ_OK) return false;
    for (; r == UNZ_OK; r = unzGoToNextFile(z.z)) {
        unz_file_info64 fi;
        std::string name;
        if (!Info_Entrada(z.z, fi, name) || !visita(z.z, fi, name)) return false;
    }
    return r == UNZ_END_OF_LIST_OF_FILE;
}

static bool Lista_Zip(const TStringNomFitx& zip, VectorS<DString>& names, VectorS<int64_t>* sizes) {
    return Recorre_Zip(zip,
                       [&](unzFile, const unz_file_info64& fi, const std::string& name) {
                           Anyade_Nombre(names, name);
                           if (sizes) sizes->Anyade(static_cast<int64_t>(fi.uncompressed_size));
                           return true;
                       }) &&
           (!sizes || sizes->Numero() == names.Numero());
}

bool GetListaZipZ(const TStringNomFitx& zip, VectorS<DString>& names) {
    return Lista_Zip(zip, names, nullptr);
}
bool GetListaZipZSize(const TStringNomFitx& zip, VectorS<DString>& names, VectorS<int64_t>& sizes) {
    return Lista_Zip(zip, names, &sizes);
}

bool GetListaTarSize(const TStringNomFitx& tar, VectorS<DString>& names, VectorS<int64_t>* sizes) {
    TTarLista sink(&names, sizes);
    bool abierto, cerrado;
    return Recorre_Tar_Archivo(tar, sink, abierto, cerrado, nullptr) == TTarResult::Ok && cerrado;
}

bool GetListaPacked(const TStringNomFitx& archive, VectorS<DString>& names) {
    if (Es_Extension_Zip(archive)) return GetListaZipZ(archive, names);
    if (Es_Extension_Tar(archive)) return GetListaTarSize(archive, names, nullptr);
    return false;
}

bool GetListaPackedSize(const TStringNomFitx& archive, VectorS<DString>& names, VectorS<int64_t>& sizes) {
    if (Es_Extension_Zip(archive)) return GetListaZipZSize(archive, names, sizes);
    if (Es_Extension_Tar(archive)) return GetListaTarSize(archive, names, &sizes);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Checks

bool Verifica_ZIP(const TStringNomFitx& zip) {
    return Recorre_Zip(zip, [](unzFile z, const unz_file_info64&, const std::string& name) {
        if (name.empty() || Es_Carpeta_Zip(name)) return true;
        // Opening the entry reads and checks its local header.
        if (unzOpenCurrentFile(z) != UNZ_OK) return false;
        unzCloseCurrentFile(z);
        return true;
    });
}

bool Verifica_TAR(const TStringNomFitx& tar) {
    TTarLista sink(nullptr, nullptr);
    bool abierto, cerrado;
    return Recorre_Tar_Archivo(tar, sink, abierto, cerrado, nullptr) == TTarResult::Ok && cerrado;
}

bool Verifica_Packed(const TStringNomFitx& archive) {
    if (Es_Extension_Zip(archive)) return Verifica_ZIP(archive);
    if (Es_Extension_Tar(archive)) return Verifica_TAR(archive);
    return false;
}

bool Verifica_ZIP_Unzipped(const TStringNomFitx& zip, const TStringNomFitx& folder) {
    if (!Es_Extension_Zip(zip) || !Verifica_ZIP(zip)) return false;
    return Verifica_Packed_Unzipped(zip, folder);
}

bool Verifica_Packed_Unzipped(const TStringNomFitx& archive, const TStringNomFitx& folder) {
    if (Es_Extension_Zip(archive)) {
        if (!Verifica_ZIP(archive)) return false;
    } else if (Es_Extension_Tar(archive)) {
        if (!Verifica_TAR(archive)) return false;
    } else {
        return false;
    }
    VectorS<DString> names;
    VectorS<int64_t> sizes;
    if (!GetListaPackedSize(archive, names, sizes)) return false;
    return Verifica_Lista(folder, names, sizes);
}

// ---------------------------------------------------------------------------------------------
// Extraction

bool CreaDirs_ZIP(TStringNomFitx& destination, unzFile zip) {
    TZipDestino out;
    std::string why;
    if (Prepara_Zip(destination, zip, out, nullptr, why)) return true;
    Registra_Fallo("CreaDirs_ZIP", destination, why.c_str());
    return false;
}

bool Desen_ZIP_Monitor(const TStringNomFitx& zip, TStringNomFitx& destination, DString& err,
                       TMonitorProc* monitor, VectorS<TStringNomFitx>* list) {
    TGanchoMonitor gancho(monitor);
    TCierraUnz z{unzOpen64(zip.c_str())};
    if (!z.z) {
        err = DString("Error opening zip file=") + zip;
        return false;
    }
    TZipDestino out;
    int64_t total = 0;
    std::string why;
    if (!Prepara_Zip(destination, z.z, out, &total, why)) {
        err = DString("Error creating file structure of zip file=") + destination;
        Registra_Fallo("Desen_ZIP_Monitor", err, why.c_str());
        return false;
    }
    if (monitor) {
        monitor->total = total;
        monitor->npasos = 0;
    }
    int r = unzGoToFirstFile(z.z);
    if (r != UNZ_OK) {
        err = DString("Error going first file of zip file=") + zip;
        return false;
    }

    std::unique_ptr<char[]> buffer(new char[kBloqueCopia]);
    int archivos = 0;
    int64_t hecho = 0; // uncompressed bytes of the entries done
    TStringNomFitx ruta;
    for (; r == UNZ_OK; r = unzGoToNextFile(z.z)) {
        unz_file_info64 fi;
        std::string name, clean;
        if (!Info_Entrada(z.z, fi, name)) {
            err = DString("Error reading file=") + " of zip file=" + zip;
            return false;
        }
        ENombreEntrada kind = Limpia_Nombre_Entrada(name, clean);
        if (kind == ENombreEntrada::Vacio) continue;
        ruta.Set_Path_y_Fitx(destination.c_str(), clean.c_str());
        if (kind == ENombreEntrada::Hostil) { // refused already by Prepara_Zip; never reached
            err = DString("Error creating file=") + ruta + " from zip file=" + zip;
            return false;
        }
        if (kind == ENombreEntrada::Carpeta) {
            if (!out.Crea_Carpetas(clean)) {
                err = DString("Error creating file=") + ruta + " from zip file=" + zip;
                Registra_Fallo("Desen_ZIP_Monitor", err, std::strerror(out.Error()));
                return false;
            }
            ++archivos;
        } else {
            const int64_t declarado = static_cast<int64_t>(fi.uncompressed_size);
            const char* fallo = nullptr;
            DString detalle;
            TZipSalida salida;
            bool creado = false;
            if (Cifrado(fi)) {
                fallo = "Error writing file=";
                detalle = "encrypted member";
            } else if (unzOpenCurrentFile(z.z) != UNZ_OK) {
                fallo = "Error writing file=";
                detalle = "bad local header";
            } else if (!out.Crea_Archivo(clean, salida)) {
                unzCloseCurrentFile(z.z);
                fallo = "Error creating file=";
                detalle = Sistema(out.Error());
            } else {
                creado = true;
                for (;;) {
                    int n = unzReadCurrentFile(z.z, buffer.get(), kBloqueCopia);
                    if (n == 0) break;
                    if (n < 0) {
                        fallo = "Error writing file=";
                        detalle = "corrupt data";
                        break;
                    }
                    // Never more than the member's declared size reaches the disk.
                    if (salida.Escritos() + n > declarado) {
                        fallo = "Error writing file=";
                        detalle = "more data than declared";
                        break;
                    }
                    if (!salida.Escribe(buffer.get(), static_cast<size_t>(n))) {
                        fallo = "Error writing file=";
                        detalle = Sistema(salida.Error());
                        break;
                    }
                    if (monitor && !monitor->Incre(n, true)) {
                        fallo = "";
                        break;
                    }
                }
                if (!fallo && salida.Escritos() != declarado) {
                    fallo = "Error writing file=";
                    detalle = "less data than declared";
                }
                int cierre = unzCloseCurrentFile(z.z);
                if (!fallo && cierre != UNZ_OK) {
                    fallo = "Error writing file=";
                    detalle = cierre == UNZ_CRCERROR ? "CRC error" : "corrupt data";
                }
                if (!fallo && !salida.Cierra()) {
                    fallo = "Error writing file=";
                    detalle = Sistema(salida.Error());
                }
            }
            if (fallo) {
                if (creado) {
                    salida.Cierra();
                    out.Borra_Archivo(clean);
                }
                if (*fallo == 0) {
                    err = "Operation canceled";
                    return false;
                }
                err = DString(fallo) + ruta + " from zip file=" + zip;
                Registra_Fallo("Desen_ZIP_Monitor", err, detalle.c_str());
                return false;
            }
            hecho += declarado;
            if (list) list->Anyade(ruta);
            ++archivos;
        }
        if (monitor) {
            monitor->npasos = hecho;
            SetStrMonitorState(monitor, archivos, ruta);
            if (Parado(monitor)) {
                err = "Operation canceled";
                return false;
            }
        }
    }
    if (r != UNZ_END_OF_LIST_OF_FILE) {
        err = DString("Error reading file=") + " of zip file=" + zip;
        return false;
    }
    if (monitor) {
        monitor->npasos = monitor->total.load();
        SetStrMonitorState(monitor, archivos, ruta);
    }
    return true;
}

bool Desen_TAR_Monitor(const TStringNomFitx& tar, TStringNomFitx& destination, DString& err,
                       TMonitorProc* monitor, VectorS<TStringNomFitx>* list) {
    TGanchoMonitor gancho(monitor);
    if (monitor) monitor->total = TFitxUtils::Tamanyo_Archivo_b(tar);
    TTarSourceGz in;
    if (!in.Abre(tar.c_str())) {
        err = DString("Error opening tar file=") + tar;
        return false;
    }
    TZipDestino out;
    TFitxUtils::Crea_Carpeta(destination);
    if (!out.Abre(destination.c_str())) {
        err = DString("Error creating file=") + destination + " from tar file=" + tar;
        Registra_Fallo("Desen_TAR_Monitor", err, std::strerror(out.Error()));
        return false;
    }
    TTarExtrae sink(tar, destination, out, monitor, list);
    std::string why;
    TTarResult r = Recorre_Tar(in, sink, &why);
    bool cerrado = in.Cierra();
    if (r == TTarResult::Parado) {
        err = sink.err.IsEmpty() ? DString("Operation canceled") : sink.err;
        return false;
    }
    if (r == TTarResult::Lectura) {
        err = DString("Error reading in tar file=") + tar;
        Registra_Fallo("Desen_TAR_Monitor", err, why.c_str());
        return false;
    }
    if (!cerrado) {
        err = DString("Operation not successful unpackaging tar file=") + tar;
        return false;
    }
    if (monitor) {
        monitor->npasos = monitor->total.load();
        SetStrMonitorState(monitor, sink.archivos, sink.Ultima());
    }
    return true;
}

bool Desen_Packed_Monitor(const TStringNomFitx& archive, TStringNomFitx& destination, DString& err,
                          TMonitorProc* monitor, VectorS<TStringNomFitx>* list) {
    if (Es_Extension_Zip(archive))
        return Desen_ZIP_Monitor(archive, destination, err, monitor, list) &&
               Verifica_ZIP_Unzipped(archive, destination);
    if (Es_Extension_Tar(archive))
        return Desen_TAR_Monitor(archive, destination, err, monitor, list) &&
               Verifica_Packed_Unzipped(archive, destination);
    err = "Pack format not supported";
    return false;
}

// ---------------------------------------------------------------------------------------------
// Creation

bool Enzipa(const TStringNomFitx& zip, const VectorS<DString>& names, const VectorS<TStringNomFitx>& files,
            TMonitorProc* monitor) {
    if (names.Numero() != files.Numero()) return false;
    zipFile zf = zipOpen64(zip.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;

    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    info.tmz_date.tm_sec = local.tm_sec;
    info.tmz_date.tm_min = local.tm_min;
    info.tmz_date.tm_hour = local.tm_hour;
    info.tmz_date.tm_mday = local.tm_mday;
    info.tmz_date.tm_mon = local.tm_mon;
    info.tmz_date.tm_year = local.tm_year + 1900;

    if (monitor) {
        monitor->texto.Vacia();
        monitor->Start(files.Numero());
    }
    std::unique_ptr<char[]> buffer(new char[kBloqueCopia]);
    bool ok = true;
    for (int i = 0; ok && i < files.Numero(); ++i) {
        TFicheroITV src;
        TStringErr_i err;
        if (!src.Abre(files[i], FITX_LEE | FITX_BINARIO, &err)) {
            ok = false;
            break;
        }
        int64_t size = src.FileSize64();
        int zip64 = size >= 0xffffffffLL ? 1 : 0;
        if (zipOpenNewFileInZip64(zf, names[i].c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, zip64) != ZIP_OK) {
            ok = false;
            break;
        }
        for (int64_t resto = size; ok && resto > 0;) {
            int64_t pide =
                resto < static_cast<int64_t>(kBloqueCopia) ? resto : static_cast<int64_t>(kBloqueCopia);
            int64_t leidos = 0;
            if (!src.LeeTokenBin(buffer.get(), pide, nullptr, 0, &leidos) || leidos != pide)
                ok = false;
            else if (zipWriteInFileInZip(zf, buffer.get(), static_cast<unsigned>(pide)) != ZIP_OK)
                ok = false;
            resto -= pide;
        }
        src.Cierra();
        if (zipCloseFileInZip(zf) != ZIP_OK) ok = false;
        if (ok && monitor) monitor->Incre(1);
    }
    if (zipClose(zf, nullptr) != ZIP_OK) ok = false;
    if (!ok) {
        unlink(zip.c_str());
        Registra_Fallo("Enzipa", zip, "the archive could not be written");
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Zip indexes

bool TListaFileInZip3::CreaListaZipAdv(unzFile zip, const TStringNomFitx& name) {
    archivo = name;
    miembros.clear();
    sizes.clear();
    carpetas.clear();
    int r = unzGoToFirstFile(zip);
    std::vector<std::pair<TFileInZip3, int64_t>> todos;
    for (int64_t numero = 0; r == UNZ_OK; r = unzGoToNextFile(zip), ++numero) {
        unz64_file_pos pos;
        unz_file_info64 fi;
        std::string entry;
        if (unzGetFilePos64(zip, &pos) != UNZ_OK || !Info_Entrada(zip, fi, entry)) return false;
        entry = entry.substr(0, entry.find('\0'));
        for (char& c : entry)
            if (c == '\\') c = '/';
        if (Es_Carpeta_Zip(entry)) {
            // A folder entry still names a folder of the archive.
            TStringNomFitx f(entry.c_str());
            f.Quita_Final_Slash();
            if (!f.IsEmpty() && f[0] == '/') f.SkipFirsts(1);
            if (!f.IsEmpty()) carpetas.push_back(f);
            continue;
        }
        if (!entry.empty() && entry[0] == '/') entry.erase(0, 1);
        TFileInZip3 m;
        m.nombre = entry.c_str();
        m.clave = m.nombre;
        m.clave.A_Mayusculas();
        m.numero = static_cast<int64_t>(pos.num_of_file);
        m.posicion = pos.pos_in_zip_directory;
        TStringNomFitx carpeta = TStringNomFitx(m.nombre).npath();
        if (!carpeta.IsEmpty() && (carpetas.empty() || carpetas.back() != carpeta))
            carpetas.push_back(carpeta);
        todos.emplace_back(m, static_cast<int64_t>(fi.uncompressed_size));
    }
    if (r != UNZ_END_OF_LIST_OF_FILE) return false;
    std::stable_sort(todos.begin(), todos.end(), [](const auto& a, const auto& b) {
        return std::strcmp(a.first.clave.c_str(), b.first.clave.c_str()) < 0;
    });
    for (auto& t : todos) {
        miembros.push_back(t.first);
        sizes.push_back(t.second);
    }
    std::sort(carpetas.begin(), carpetas.end(),
              [](const DString& a, const DString& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
    carpetas.erase(std::unique(carpetas.begin(), carpetas.end(),
                               [](const DString& a, const DString& b) {
                                   return std::strcmp(a.c_str(), b.c_str()) == 0;
                               }),
                   carpetas.end());
    return true;
}

const TFileInZip3* TListaFileInZip3::Busca(const DString& member) const {
    DString clave = member;
    clave.Sustituye('\\', '/');
    if (clave.StartsWith("/")) clave.SkipFirsts(1);
    clave.A_Mayusculas();
    auto it =
        std::lower_bound(miembros.begin(), miembros.end(), clave, [](const TFileInZip3& m, const DString& k) {
            return std::strcmp(m.clave.c_str(), k.c_str()) < 0;
        });
    if (it == miembros.end() || std::strcmp(it->clave.c_str(), clave.c_str()) != 0) return nullptr;
    return &*it;
}

bool TListaFileInZip3::LocateFileFast(unzFile zip, const DString& member) {
    const TFileInZip3* m = Busca(member);
    if (!m) return false;
    if (!zip) return true;
    unz64_file_pos pos;
    pos.pos_in_zip_directory = m->posicion;
    pos.num_of_file = static_cast<ZPOS64_T>(m->numero);
    return unzGoToFilePos64(zip, &pos) == UNZ_OK;
}

int64_t TListaFileInZip3::Size(const DString& member) const {
    const TFileInZip3* m = Busca(member);
    return m ? sizes[static_cast<size_t>(m - miembros.data())] : -1;
}

bool TListaFileInZip3::EsCarpeta(const DString& member) const {
    TStringNomFitx f(member);
    f.Arregla_dir_carac();
    f.Quita_Final_Slash();
    if (f.StartsWith("/")) f.SkipFirsts(1);
    for (const DString& c : carpetas)
        if (Dstrcmpi(c.c_str(), f.c_str()) == 0) return true;
    return false;
}

bool TListaFileInZip3::Siguiente4(int& position, DString& name, bool& is_folder) const {
    if (position < 0) return false;
    size_t p = static_cast<size_t>(position);
    if (p < miembros.size()) {
        name = miembros[p].nombre;
        is_folder = false;
    } else if (p - miembros.size() < carpetas.size()) {
        name = carpetas[p - miembros.size()];
        is_folder = true;
    } else {
        return false;
    }
    ++position;
    return true;
}

TListaZips3& TListaZips3::Global() {
    static TListaZips3* global = new TListaZips3; // lives to the end of the process
    return *global;
}

TListaFileInZip3* TListaZips3::GetListaZips(unzFile zip, const TStringNomFitx& name, bool remove) {
    TCriticalSectionITVEntra guard(lock_);
    int64_t size = -1, mtime = 0;
    Stat_Archivo(name.c_str(), size, mtime);
    for (size_t i = 0; i < indices_.size();) {
        TListaFileInZip3* idx = indices_[i].get();
        // Paths compare exactly: two names that differ in case are two files here.
        if (std::strcmp(idx->archivo.c_str(), name.c_str()) != 0) {
            ++i;
            continue;
        }
        if (!remove && idx->size_archivo == size && idx->mtime_archivo == mtime) return idx;
        indices_.erase(indices_.begin() + static_cast<long>(i)); // dropped, or stale: the file changed
    }
    if (!zip) return nullptr;
    std::unique_ptr<TListaFileInZip3> idx(new TListaFileInZip3);
    if (!idx->CreaListaZipAdv(zip, name)) return nullptr;
    idx->size_archivo = size;
    idx->mtime_archivo = mtime;
    indices_.push_back(std::move(idx));
    if (indices_.size() > kMaxIndices) indices_.erase(indices_.begin());
    return indices_.back().get();
}

TListaFileInZip3* TListaZips3::GetListaZipsB(const TStringNomFitx& name) {
    TCriticalSectionITVEntra guard(lock_);
    if (TListaFileInZip3* idx = GetListaZips(nullptr, name, false)) return idx;
    TCierraUnz z{unzOpen64(name.c_str())};
    if (!z.z) return nullptr;
    return GetListaZips(z.z, name, false);
}

int TListaZips3::Numero() {
    TCriticalSectionITVEntra guard(lock_);
    return static_cast<int>(indices_.size());
}

void TListaZips3::Vacia() {
    TCriticalSectionITVEntra guard(lock_);
    indices_.clear();
}

// ---------------------------------------------------------------------------------------------
// The member backend

static TStringNomFitx Miembro(const TStringNomFitx& name) {
    TStringNomFitx m = name.SubFile();
    m.Arregla_dir_carac();
    return m;
}

bool TFicheroITV_zip::Smell(const TStringNomFitx& name) {
    return name.strstr("!/") >= 0 && Es_Extension_Zip(name.MainFile());
}

bool TFicheroITV_zip::Verifica_Existencia_Archivo(const TStringNomFitx& name) {
    if (!Smell(name)) return false;
    TListaZips3& cache = TListaZips3::Global();
    TCriticalSectionITVEntra guard(cache.Lock());
    TListaFileInZip3* idx = cache.GetListaZipsB(name.MainFile());
    return idx && idx->LocateFileFast(nullptr, Miembro(name));
}

bool TFicheroITV_zip::Siguiente3(const TStringNomFitx& archive, int& position, DString& name,
                                 bool& is_folder) {
    TListaZips3& cache = TListaZips3::Global();
    TCriticalSectionITVEntra guard(cache.Lock());
    TListaFileInZip3* idx = cache.GetListaZipsB(archive);
    return idx && idx->Siguiente4(position, name, is_folder);
}

TFicheroITV_zip::~TFicheroITV_zip() {
    Cierra(nullptr);
}

bool TFicheroITV_zip::Abre(const TStringNomFitx& name, int& mode, TStringErr* err, TMonitorProc* monitor) {
    Cierra(nullptr);
    if ((mode & 7) != FITX_LEE) {
        TFicheroITV::ComposeStringError(err, true, name.c_str(), "archive members are read-only");
        return false;
    }
    archivo_ = name.MainFile();
    TStringNomFitx miembro = Miembro(name);
    zip_ = unzOpen64(archivo_.c_str());
    if (!zip_) {
        TFicheroITV::ComposeStringError(err, false, archivo_.c_str(), nullptr);
        return false;
    }
    bool ok;
    {
        TListaZips3& cache = TListaZips3::Global();
        TCriticalSectionITVEntra guard(cache.Lock());
        TListaFileInZip3* idx = cache.GetListaZips(zip_, archivo_, false);
        ok = idx && idx->LocateFileFast(zip_, miembro);
        if (!ok && !archivo_.es_extension("apk")) {
            idx = cache.GetListaZips(zip_, archivo_, true);
            ok = idx && idx->LocateFileFast(zip_, miembro);
        }
    }
    unz_file_info64 fi;
    ok = ok && unzGetCurrentFileInfo64(zip_, &fi, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK;
    ok = ok && unzOpenCurrentFile(zip_) == UNZ_OK;
    if (!ok) {
        unzClose(zip_);
        zip_ = nullptr;
        TFicheroITV::ComposeStringError(err, false, name.c_str(), nullptr);
        return false;
    }
    size_ = static_cast<int64_t>(fi.uncompressed_size);
    almacenado_ = fi.compression_method == 0 && !Cifrado(fi) && fi.compressed_size == fi.uncompressed_size;
    inicio_datos_ = unzGetCurrentFileZStreamPos64(zip_);
    return true;
}

bool TFicheroITV_zip::Cierra(TStringErr* err) {
    if (directo_) fclose(directo_);
    directo_ = nullptr;
    directo_probado_ = false;
    pos_directo_ = 0;
    if (!zip_) return true;
    int r = unzCloseCurrentFile(zip_);
    unzClose(zip_);
    zip_ = nullptr;
    if (r == UNZ_CRCERROR) {
        // The whole member was read and its data do not match the archive's CRC.
        if (err) *err = DString("Error: ") + archivo_ + " CRC error in member";
        return false;
    }
    return true;
}

bool TFicheroITV_zip::LeeBytes(void* buffer, int64_t length, int64_t& count) {
    count = 0;
    if (!zip_ || length <= 0) return length == 0 && zip_;
    char* p = static_cast<char*>(buffer);
    if (directo_) {
        int64_t n = std::min(length, size_ - pos_directo_); // never past the member
        if (n > 0) count = static_cast<int64_t>(fread(p, 1, static_cast<size_t>(n), directo_));
        pos_directo_ += count;
        return count == length;
    }
    while (count < length) {
        int64_t pide = std::min<int64_t>(length - count, 1 << 30);
        int r = unzReadCurrentFile(zip_, p + count, static_cast<unsigned>(pide));
        if (r <= 0) break;
        count += r;
    }
    return count == length;
}

bool TFicheroITV_zip::Reabre() {
    unzCloseCurrentFile(zip_);
    return unzOpenCurrentFile(zip_) == UNZ_OK;
}

bool TFicheroITV_zip::Avanza(int64_t desde, int64_t hasta) {
    if (hasta < desde) {
        if (!Reabre()) return false;
        desde = 0;
    }
    char tira[65536];
    while (desde < hasta) {
        int64_t n = std::min<int64_t>(hasta - desde, sizeof tira);
        int r = unzReadCurrentFile(zip_, tira, static_cast<unsigned>(n));
        if (r != n) return false;
        desde += r;
    }
    return true;
}

bool TFicheroITV_zip::Posicionate64(int64_t p) {
    if (!zip_ || p < 0) return false;
    if (directo_) {
        if (p > size_) return false;
        if (fseeko(directo_, static_cast<off_t>(inicio_datos_ + static_cast<uint64_t>(p)), SEEK_SET) != 0)
            return false;
        pos_directo_ = p;
        return true;
    }
    int64_t c = static_cast<int64_t>(unztell64(zip_));
    if (p == c) return true;
    if (p == 0) return Reabre();
    if (!directo_probado_) {
        directo_probado_ = true;
        // Only a stored, unencrypted member can be read straight from the archive.
        if (almacenado_ && p <= size_) {
            directo_ = fopen(archivo_.c_str(), "rb");
            if (directo_) {
                pos_directo_ = 0;
                return Posicionate64(p);
            }
        }
    }
    return Avanza(c, p);
}

bool TFicheroITV_zip::eof() {
    if (!zip_) return true;
    if (directo_) return pos_directo_ >= size_;
    return unzeof(zip_) == 1;
}

int64_t TFicheroITV_zip::PosActual64() {
    if (!zip_) return 0;
    if (directo_) return pos_directo_;
    return static_cast<int64_t>(unztell64(zip_));
}

int64_t TFicheroITV_zip::FileSize64() {
    return zip_ ? size_ : 0;
}

// ---------------------------------------------------------------------------------------------
// The file system of archive members

namespace {

class TListadoZip : public TListadoFitxITV {
public:
    explicit TListadoZip(const TStringNomFitx& pattern) {
        TStringNomFitx p(pattern);
        p.Arregla_dir_carac();
        archivo_ = p.MainFile();
        patron_ = p.SubFile();
    }
    bool Siguiente(TStringNomFitx& nombre, bool& carpeta, int64_t& size) override {
        DString name;
        while (TFicheroITV_zip::Siguiente3(archivo_, pos_, name, carpeta)) {
            if (!patron_.IsEmpty() && !Verifica_Pertenencia_Windcards(patron_.c_str(), name.c_str()))
                continue;
            nombre = archivo_;
            nombre << "!"
                   << "/";
            nombre += name;
            size = -1;
            if (!carpeta) {
                TListaZips3& cache = TListaZips3::Global();
                TCriticalSectionITVEntra guard(cache.Lock());
                if (TListaFileInZip3* idx = cache.GetListaZipsB(archivo_)) size = idx->Size(name);
            }
            return true;
        }
        return false;
    }
    bool SinFiltro() override { return true; }

private:
    TStringNomFitx archivo_;
    DString patron_;
    int pos_ = 0;
};

} // namespace

bool TSistemaZip::Smell(const TStringNomFitx& name, int mode) {
    return (mode == 0 || (mode & FITX_LEE)) && TFicheroITV_zip::Smell(name);
}

bool TSistemaZip::Verifica_Existencia_Archivo(const TStringNomFitx& name) {
    return TFicheroITV_zip::Verifica_Existencia_Archivo(name);
}

bool TSistemaZip::Verifica_Existencia_Carpeta(const TStringNomFitx& name) {
    TListaZips3& cache = TListaZips3::Global();
    TCriticalSectionITVEntra guard(cache.Lock());
    TListaFileInZip3* idx = cache.GetListaZipsB(name.MainFile());
    return idx && idx->EsCarpeta(Miembro(name));
}

int64_t TSistemaZip::FileSize(const TStringNomFitx& name) {
    TListaZips3& cache = TListaZips3::Global();
    TCriticalSectionITVEntra guard(cache.Lock());
    TListaFileInZip3* idx = cache.GetListaZipsB(name.MainFile());
    int64_t size = idx ? idx->Size(Miembro(name)) : -1;
    return size < 0 ? 0 : size;
}

TListadoFitxITV* TSistemaZip::NuevoListado(const TStringNomFitx& pattern) {
    return new TListadoZip(pattern);
}

void Registra_Sistema_Zip() {
    std::call_once(registro_zip, [] {
        static TSistemaZip* sistema = new TSistemaZip; // registered for the whole process
        TFicheroITV::RegistraSistema(sistema);
    });
}
