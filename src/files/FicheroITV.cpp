#include "files/FicheroITV.h"

#include "files/FitxUtils.h"
#include "foundation/Monitor.h"
#include "foundation/StringErr.h"
#include "foundation/Temps.h"
#include "foundation/Threads.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <locale.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kSufijoTemporal[] = ".$$$";

bool EsModoEscritura(int mode) {
    return (mode & (FITX_ESCRIBE | FITX_ANYADE | FITX_UPDATE | FITX_TEMPORAL)) != 0;
}

// Errors a retry may cure (the target busy for a moment).
bool ErrorPasajero(int e) {
    return e == EBUSY || e == ETXTBSY || e == EINTR || e == EAGAIN;
}

// Makes the folder entry of a renamed file durable.
void SincronizaCarpeta(const TStringNomFitx& name) {
    TStringNomFitx folder = name.npath();
    int fd = open(folder.IsEmpty() ? (name.c_str()[0] == '/' ? "/" : ".") : folder.c_str(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

void AnyadeUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// ISO-8859-1: every byte is the code point of the same value.
std::string Latin1AUtf8(const char* s, size_t n) {
    std::string out;
    out.reserve(n + n / 4);
    for (size_t i = 0; i < n; i++)
        AnyadeUtf8(static_cast<unsigned char>(s[i]), out);
    return out;
}

std::string Utf16AUtf8(const char* s, size_t n, bool big_endian) {
    std::string out;
    out.reserve(n);
    auto unidad = [&](size_t i) -> uint32_t {
        auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
        return big_endian ? (a << 8 | b) : (b << 8 | a);
    };
    for (size_t i = 0; i + 1 < n; i += 2) {
        uint32_t u = unidad(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < n) {
            uint32_t v = unidad(i + 2);
            if (v >= 0xDC00 && v < 0xE000) {
                AnyadeUtf8(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00), out);
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
        if (u == 0) break; // the text ends at the first zero, as every text does
        AnyadeUtf8(u, out);
    }
    return out;
}

void AsignaBytes(DString& text, const char* data, size_t n) {
    text.Vacia();
    if (n == 0) return;
    text.Incre_A(static_cast<int>(n), false);
    std::memcpy(text.Buffer(), data, n);
    text.Buffer()[n] = 0;
}

// The registered file systems of higher layers.
std::mutex& RegistroLock() {
    static std::mutex m;
    return m;
}
std::vector<TSistemaFitxITV*>& Registro() {
    static std::vector<TSistemaFitxITV*> v;
    return v;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Local backend

TFicheroITV_stdio::~TFicheroITV_stdio() {
    if (f_) fclose(f_);
}

const char* TFicheroITV_stdio::Calcula_str_stdio(int mode) {
    bool mas = (mode & FITX_UPDATE) != 0;
    switch (mode & 7) {
    case 1:
        return mas ? "r+b" : "rb";
    case 2:
        return mas ? "w+b" : "wb";
    case 4:
        return mas ? "a+b" : "ab";
    case 0:
        if (mas) return "r+b";
        break;
    }
    throw DString("Error en TFicheroITV::Abre");
}

bool TFicheroITV_stdio::Abre(const TStringNomFitx& name, int& mode, TStringErr* err, TMonitorProc*) {
    const char* str = Calcula_str_stdio(mode);
    nombre_ = name;
    bool temporal = (mode & FITX_TEMPORAL) && name.EndsWith(kSufijoTemporal);
    if (temporal) nombre_.SkipLasts(static_cast<int>(sizeof(kSufijoTemporal) - 1));

    int flags = O_CLOEXEC;
    if (str[0] == 'r')
        flags |= str[1] == '+' ? O_RDWR : O_RDONLY;
    else if (str[0] == 'w')
        flags |= (str[1] == '+' ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    else
        flags |= (str[1] == '+' ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    if (temporal && (flags & O_TRUNC)) {
        // The temporary is ours: a stale one (or anything planted under its name) goes first, and
        // the new one is created exclusively, so a link there can never redirect the writes.
        unlink(name.c_str());
        flags = (flags & ~O_TRUNC) | O_EXCL | O_NOFOLLOW;
    }
    int fd = open(name.c_str(), flags | O_NONBLOCK, 0666);
    int e = errno;
    if (fd >= 0) {
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            close(fd);
            fd = -1;
            e = EISDIR;
        } else {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        }
    }
    if (fd >= 0) {
        f_ = fdopen(fd, str);
        e = errno;
        if (!f_) close(fd);
    }
    if (!f_) {
        DString detail;
        detail.Dsprintf("fopen failed, errno = %d\n", e);
        TFicheroITV::ComposeStringError(err, (mode & (FITX_ESCRIBE | FITX_ANYADE)) != 0, nombre_.c_str(),
                                        detail.c_str());
        return false;
    }
    errno_ = 0;
    ultima_ = 0;
    return true;
}

void TFicheroITV_stdio::Fallo(int e) {
    if (!errno_) errno_ = e ? e : EIO;
}

void TFicheroITV_stdio::Antes(bool writing) {
    int op = writing ? 2 : 1;
    // A stream that was written must be flushed or positioned before it is read, and the other way.
    if (ultima_ && ultima_ != op) fseeko(f_, 0, SEEK_CUR);
    ultima_ = op;
}

bool TFicheroITV_stdio::Cierra(TStringErr* err) {
    if (!f_) return true;
    if (fflush(f_) != 0) Fallo(errno);
    if (fclose(f_) != 0) Fallo(errno);
    f_ = nullptr;
    if (!errno_) return true;
    TFicheroITV::ComposeStringError(err, true, nombre_.c_str(), strerror(errno_));
    return false;
}

bool TFicheroITV_stdio::LeeBytes(void* buffer, int64_t length, int64_t& count) {
    count = 0;
    if (!f_ || length < 0) return false;
    Antes(false);
    count = static_cast<int64_t>(fread(buffer, 1, static_cast<size_t>(length), f_));
    return count == length;
}

bool TFicheroITV_stdio::GuardaBytes(const void* data, int64_t length) {
    if (!f_ || length < 0) return false;
    if (length == 0) return true;
    Antes(true);
    errno = 0;
    if (fwrite(data, 1, static_cast<size_t>(length), f_) == static_cast<size_t>(length)) return true;
    Fallo(errno);
    return false;
}

bool TFicheroITV_stdio::Posicionate64(int64_t position) {
    if (!f_ || position < 0) return false;
    ultima_ = 0;
    return fseeko(f_, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool TFicheroITV_stdio::eof() {
    return !f_ || feof(f_);
}

int64_t TFicheroITV_stdio::PosActual64() {
    return f_ ? static_cast<int64_t>(ftello(f_)) : 0;
}

int64_t TFicheroITV_stdio::FileSize64() {
    if (!f_) return 0;
    if (ultima_ == 2 && fflush(f_) != 0) Fallo(errno);
    struct stat st;
    if (fstat(fileno(f_), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

bool TFicheroITV_stdio::Flush() {
    if (!f_) return false;
    if (fflush(f_) == 0) return true;
    Fallo(errno);
    return false;
}

bool TFicheroITV_stdio::Sincroniza() {
    if (!Flush()) return false;
    if (fsync(fileno(f_)) == 0) return true;
    Fallo(errno);
    return false;
}

bool TFicheroITV_stdio::SetEndOfFile() {
    if (!f_ || !Flush()) return false;
    return ftruncate(fileno(f_), ftello(f_)) == 0;
}

// ---------------------------------------------------------------------------------------------
// Registry of file systems

void TFicheroITV::RegistraSistema(TSistemaFitxITV* sistema) {
    if (!sistema) return;
    std::lock_guard<std::mutex> g(RegistroLock());
    auto& r = Registro();
    if (std::find(r.begin(), r.end(), sistema) == r.end()) r.push_back(sistema);
}

void TFicheroITV::DesregistraSistema(TSistemaFitxITV* sistema) {
    std::lock_guard<std::mutex> g(RegistroLock());
    auto& r = Registro();
    r.erase(std::remove(r.begin(), r.end(), sistema), r.end());
}

TSistemaFitxITV* TFicheroITV::BuscaSistema(const TStringNomFitx& name, int mode) {
    std::vector<TSistemaFitxITV*> copia;
    {
        std::lock_guard<std::mutex> g(RegistroLock());
        copia = Registro();
    }
    // Smell may take a lock of its own system: never called with the registry locked.
    for (TSistemaFitxITV* s : copia)
        if (s->Smell(name, mode)) return s;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

TFicheroITV::TFicheroITV() = default;

TFicheroITV::~TFicheroITV() {
    try {
        CierraEx(true, nullptr);
    } catch (...) {
    }
}

void TFicheroITV::ResetEstado() {
    pushback_.Vacia();
    anterior_ = 0;
    error_escritura_ = false;
    errno_escritura_ = 0;
    utf16_be_ = false;
}

bool TFicheroITV::Abre(const TStringNomFitx& name, int mode, TStringErr* err, TMonitorProc* monitor) {
    // An open object keeps its file (and its name, which the commit of its temporary needs).
    if (backend_ || Abierto()) {
        if (err) *err += " file already oppened.";
        return false;
    }
    TStringNomFitx n = name;
    n.Descodifica_file_url();
    nombre_ = n;
    modo_ = mode;
    ResetEstado();
    codepage_ = CP_DESCONOCIDO;

    std::unique_ptr<TFicheroITV_Base> backend;
    TSistemaFitxITV* sistema = BuscaSistema(n, mode);
    if (sistema) {
        if (!sistema->AdmiteTemporal()) modo_ &= ~FITX_TEMPORAL;
        backend.reset(sistema->NuevoBackend(n));
        if (!backend) {
            ComposeStringError(err, (mode & FITX_ESCRIBE) != 0, n.c_str(), nullptr);
            return false;
        }
    } else {
        TFicheroITV_stdio::Calcula_str_stdio(modo_); // invalid bits throw before anything is touched
        backend.reset(new TFicheroITV_stdio);
    }

    // Never write over a read-only file.
    if (EsModoEscritura(modo_) && TFitxUtils::Verifica_Existencia_Archivo(n) &&
        TFitxUtils::IsFileReadOnly(n)) {
        ComposeStringError(err, true, name.c_str(), nullptr);
        return false;
    }
    if ((modo_ & FITX_ESCRIBE) && !(modo_ & FITX_TEMPORAL)) {
        if (modo_ & FITX_BAK_EXT) Crea_Bak(n, false);
        if (modo_ & FITX_BAK_ANYADE) Crea_Bak(n, true);
    }

    TStringNomFitx abrir = n;
    if (modo_ & FITX_TEMPORAL) {
        abrir += kSufijoTemporal;
        // Appending or updating through a temporary starts from a copy of the file.
        if (!(modo_ & FITX_ESCRIBE) && TFitxUtils::Verifica_Existencia_Archivo(n)) {
            TStringErr_i e;
            unlink(abrir.c_str());
            if (!TFitxUtils::Copy(n, abrir, e, true, nullptr, false)) {
                unlink(abrir.c_str());
                ComposeStringError(err, true, n.c_str(), e.c_str());
                return false;
            }
        }
    }
    if (!backend->Abre(abrir, modo_, err, monitor)) {
        if ((modo_ & FITX_TEMPORAL) && !(modo_ & FITX_ESCRIBE)) unlink(abrir.c_str());
        return false;
    }
    backend_ = backend.release();
    if (modo_ & FITX_TEMPORAL) {
        via_temporal_ = true;
        // The replacement keeps the permissions of the file it replaces (a private file stays private).
        struct stat st;
        if (!sistema && stat(n.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            chmod(abrir.c_str(), st.st_mode & 07777);
    }

    if (modo_ & FITX_TEXTO) {
        bool leer, escribir;
        if (modo_ & FITX_UPDATE) {
            escribir = FileSize64() == 0;
            leer = !escribir;
        } else {
            leer = (modo_ & FITX_LEE) != 0;
            escribir = (modo_ & FITX_ESCRIBE) != 0;
        }
        if (leer) Lee_BOM();
        if (escribir && !(modo_ & FITX_SIN_BOM)) {
            int cp = codepage_ == CP_UTF16 ? CP_UTF16 : CP_UTF8;
            Guarda_BOM(cp);
            codepage_ = cp;
        }
    }
    lineas_ = 0;
    return true;
}

bool TFicheroITV::CierraEx(bool commit, TStringErr* err) {
    if (err) err->Vacia();
    bool ok = true;
    if (backend_) {
        // Data that replaces a file must be on the device before the rename makes it the file.
        if (via_temporal_ && commit && !error_escritura_ && !backend_->Sincroniza()) error_escritura_ = true;
        TStringErr_i local;
        ok = backend_->Cierra(err ? err : &local);
        delete backend_;
        backend_ = nullptr;
    }
    pushback_.Vacia();
    if (error_escritura_ && ok) {
        // The backend could not say why; the file is still named.
        ComposeStringError(err, true, nombre_.c_str(), nullptr);
        ok = false;
    }
    if (via_temporal_) {
        via_temporal_ = false;
        codepage_ = CP_DESCONOCIDO;
        TStringNomFitx t = nombre_;
        t += kSufijoTemporal;
        struct stat st;
        if (lstat(t.c_str(), &st) != 0) {
            if (err) *err = "Error TFicheroITV close 1";
            return false;
        }
        if (!commit || !ok) {
            // Discarded (or not completely written): the file stays as it was.
            unlink(t.c_str());
            return !commit;
        }
        bool existe = TFitxUtils::Verifica_Existencia_Archivo(nombre_);
        if (existe && (modo_ & (FITX_BAK_EXT | FITX_BAK_ANYADE)))
            Crea_Bak(nombre_, (modo_ & FITX_BAK_ANYADE) != 0);
        // rename() replaces the file atomically: at every moment the name holds either the old
        // or the complete new content.
        int retries = 0, e = 0;
        while (rename(t.c_str(), nombre_.c_str()) != 0) {
            e = errno;
            if (!ErrorPasajero(e) || retries >= 10) break;
            Sleep(retries * 100);
            retries++;
            e = 0;
        }
        if (e) {
            if (err) {
                DString msg;
                msg << "Error TFicheroITV::CloseEx moving "
                    << " ex=" << (existe ? 1 : 0) << " nRetrys=" << retries << " file=" << nombre_
                    << " err0=" << strerror(e);
                *err = msg;
            }
            unlink(t.c_str());
            return false;
        }
        SincronizaCarpeta(nombre_);
        if (err) err->Vacia();
        return true;
    }
    codepage_ = CP_DESCONOCIDO;
    return ok;
}

bool TFicheroITV::Abierto() {
    return backend_ && backend_->Abierto();
}

void TFicheroITV::Crea_Bak(const TStringNomFitx& name, bool append) {
    if (!TFitxUtils::Verifica_Existencia_Archivo(name)) return;
    TStringNomFitx bak = name;
    if (append)
        bak += ".bak";
    else
        bak.Cambia_Ext("bak");
    if (bak.Strcmp(name) == 0) return; // "x.bak" with its extension replaced is itself
    TStringErr_i e;
    // Through a temporary: a backup that cannot be completed leaves the previous backup.
    TFitxUtils::Copy(name, bak, e, true, nullptr, true);
}

void TFicheroITV::ComposeStringError(TStringErr* err, bool writing, const char* name, const char* detail) {
    if (!err) return;
    DString msg;
    if (writing)
        msg.Dsprintf("Error writing %s file.", name ? name : "");
    else
        msg.Dsprintf("Error: %s File not found", name ? name : "");
    if (detail && *detail) msg << " " << detail;
    TStringNomFitx n(name);
    if (TFitxUtils::Verifica_Existencia_Archivo(n) && TFitxUtils::IsFileReadOnly(n)) {
        msg << " File is ReadOnly";
        err->SetType(TStringErr::eReadOnly);
    }
    *err = msg;
}

// ---------------------------------------------------------------------------------------------
// Raw access

bool TFicheroITV::PonTokenBin(const void* data, int64_t length, TMonitorProc* monitor, int64_t chunk) {
    if (!backend_ || length < 0) return false;
    const char* p = static_cast<const char*>(data);
    if (!monitor || chunk <= 0) chunk = length;
    int64_t hecho = 0;
    do {
        int64_t n = std::min(chunk, length - hecho);
        errno = 0;
        if (!backend_->GuardaBytes(p + hecho, n)) {
            if (!error_escritura_) errno_escritura_ = errno;
            error_escritura_ = true;
            return false;
        }
        hecho += n;
        if (monitor && !monitor->Incre(n, true)) return hecho == length;
    } while (hecho < length);
    return true;
}

bool TFicheroITV::LeeTokenBin(void* buffer, int64_t length, TMonitorProc* monitor, int64_t chunk,
                              int64_t* count) {
    if (count) *count = 0;
    if (!backend_ || length < 0) return false;
    char* p = static_cast<char*>(buffer);
    int64_t hecho = 0;
    // Pushed-back characters come first.
    while (hecho < length && !pushback_.IsEmpty()) {
        int last = pushback_.Length() - 1;
        p[hecho++] = pushback_[last];
        pushback_.Elimina_Ultimo();
    }
    if (!monitor || chunk <= 0) chunk = length;
    bool ok = true;
    while (hecho < length) {
        int64_t n = std::min(chunk, length - hecho), leidos = 0;
        ok = backend_->LeeBytes(p + hecho, n, leidos);
        hecho += leidos;
        if (!ok) break;
        if (monitor && !monitor->Incre(n, true)) break;
    }
    if (count) *count = hecho;
    return hecho == length;
}

char TFicheroITV::fgetc_dir() {
    char c = 0;
    int64_t n = 0;
    if (!backend_ || !backend_->LeeBytes(&c, 1, n)) return 0;
    return c;
}

char TFicheroITV::fgetc() {
    if (!pushback_.IsEmpty()) {
        char c = pushback_[pushback_.Length() - 1];
        pushback_.Elimina_Ultimo();
        return c;
    }
    return fgetc_dir();
}

bool TFicheroITV::LeeChar(char& c) {
    if (!pushback_.IsEmpty()) {
        c = fgetc();
        return true;
    }
    c = fgetc_dir();
    return c != 0 || !eof();
}

void TFicheroITV::Unget(char c) {
    if (c) pushback_ += c;
}

void TFicheroITV::Unget(const char* s) {
    if (!s) return;
    for (int i = static_cast<int>(strlen(s)) - 1; i >= 0; i--)
        pushback_ += s[i];
}

bool TFicheroITV::Posicionate64(int64_t position) {
    pushback_.Vacia();
    return backend_ && backend_->Posicionate64(position);
}

bool TFicheroITV::PosicionateFinal() {
    return Posicionate64(FileSize64());
}

int64_t TFicheroITV::PosActual64() {
    return backend_ ? backend_->PosActual64() - pushback_.Length() : 0;
}

int TFicheroITV::PosActual() {
    return static_cast<int>(std::min<int64_t>(PosActual64(), INT_MAX));
}

int64_t TFicheroITV::FileSize64() {
    return backend_ ? backend_->FileSize64() : 0;
}

int TFicheroITV::FileSize() {
    int64_t s = FileSize64();
    return s < 1 ? 0 : static_cast<int>(std::min<int64_t>(s, INT_MAX));
}

bool TFicheroITV::eof() {
    return !backend_ || (pushback_.IsEmpty() && backend_->eof());
}

bool TFicheroITV::Flush() {
    return backend_ && backend_->Flush();
}

bool TFicheroITV::SetEndOfFile() {
    return backend_ && backend_->SetEndOfFile();
}

// ---------------------------------------------------------------------------------------------
// Byte-order marks and code pages

void TFicheroITV::Lee_BOM() {
    if (codepage_ != CP_DESCONOCIDO) return;
    int64_t pos = PosActual64();
    unsigned char b[3] = {0, 0, 0};
    int64_t n = 0;
    if (LeeTokenBin(b, 1, nullptr, 0, &n) && (b[0] == 0xFF || b[0] == 0xFE || b[0] == 0xEF) &&
        LeeTokenBin(b + 1, 1, nullptr, 0, &n)) {
        if ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)) {
            codepage_ = CP_UTF16;
            utf16_be_ = b[0] == 0xFE;
            return;
        }
        if (b[0] == 0xEF && b[1] == 0xBB && LeeTokenBin(b + 2, 1, nullptr, 0, &n) && b[2] == 0xBF) {
            codepage_ = CP_UTF8;
            return;
        }
    }
    Posicionate64(pos);
    codepage_ = CP_LATIN1;
}

void TFicheroITV::Guarda_BOM(int codepage) {
    if (PosActual64() != 0) return;
    if (codepage == CP_UTF16)
        PonTokenBin("\xFF\xFE", 2);
    else if (codepage == CP_UTF8)
        PonTokenBin("\xEF\xBB\xBF", 3);
}

void TFicheroITV::TransformStrCodepage(DString& text) {
    if (codepage_ < 0 || codepage_ == CP_UTF8 || text.IsEmpty()) return;
    if (codepage_ == CP_LATIN1) {
        std::string u = Latin1AUtf8(text.c_str(), static_cast<size_t>(text.Length()));
        text = u.c_str();
    }
}

int64_t TFicheroITV::Lee_Todo_Str(DString& text, bool convert) {
    text.Vacia();
    int64_t size = FileSize64() - PosActual64();
    if (size <= 0 || size > INT_MAX - 64) return 0; // nothing, or more than a text can hold
    // Sized once and read in one call, straight into the text.
    text.Incre_A(static_cast<int>(size), false);
    int64_t n = 0;
    LeeTokenBin(text.Buffer(), size, nullptr, 0, &n);
    text.Buffer()[n] = 0;
    if (n < size) return 0;
    if (convert && codepage_ == CP_UTF16) {
        std::string u = Utf16AUtf8(text.Buffer(), static_cast<size_t>(n), utf16_be_);
        AsignaBytes(text, u.data(), u.size());
    } else if (convert) {
        TransformStrCodepage(text);
    }
    return n;
}

int64_t TFicheroITV::Lee_Todo_Str(DStringB& data) {
    data.Vacia();
    data.SetLengthB(0);
    int64_t size = FileSize64() - PosActual64();
    if (size <= 0 || size > INT_MAX - 64) return 0;
    std::vector<char> buf(static_cast<size_t>(size));
    int64_t n = 0;
    LeeTokenBin(buf.data(), size, nullptr, 0, &n);
    data.SetBin(buf.data(), static_cast<int>(n));
    return n < size ? 0 : n;
}

// ---------------------------------------------------------------------------------------------
// Line and token readers

int TFicheroITV::get_linea(DString& line, int max) {
    if (max < 1) max = 20000;
    int resultado = lineas_;
    char c = 0;
    bool fin = false;
    for (;;) {
        line.Vacia();
        // Skip blanks and line breaks, counting the lines.
        for (;;) {
            if (!LeeChar(c)) {
                fin = true;
                break;
            }
            if (c == ' ' || c == '\t') {
            } else if (c == '\r') {
                lineas_++;
            } else if (c == '\n') {
                if (anterior_ != '\r') lineas_++;
            } else {
                break;
            }
            anterior_ = c;
        }
        // Collect up to a terminator.
        int len = 0;
        std::string buf;
        while (!fin && c != 0 && c != '\n' && c != '\r' && c != ';' && c != '\xFF') {
            if (len < max - 1) {
                buf.push_back(c);
                len++;
            }
            anterior_ = c;
            if (!LeeChar(c)) fin = true;
        }
        if (!buf.empty()) line = buf.c_str();
        resultado = lineas_;
        if (!fin) {
            anterior_ = c;
            if (c == ';') {
                // A comment runs to the end of the line, which is counted.
                for (;;) {
                    if (!LeeChar(c)) {
                        fin = true;
                        break;
                    }
                    anterior_ = c;
                    if (c == '\r' || c == '\n') {
                        lineas_++;
                        break;
                    }
                }
            } else if (c == '\r') {
                lineas_++;
            } else if (c == '\n') {
                lineas_++;
            }
        }
        // Trailing blanks go; a line left empty is skipped unless the file ended.
        int l = line.Length();
        while (l > 0 && (line[l - 1] == ' ' || line[l - 1] == '\t'))
            l--;
        if (l < line.Length()) line = line.SubString(0, l);
        if (!line.IsEmpty() || fin || eof()) break;
    }
    if (line == "VOID") line.Vacia();
    TransformStrCodepage(line);
    return resultado;
}

bool TFicheroITV::get_linea_CR(DString& line) {
    line.Vacia();
    std::string buf;
    char c = 0;
    bool fin = false, alguno = false;
    for (;;) {
        if (!LeeChar(c)) {
            fin = true;
            break;
        }
        if (c == '\n' || c == '\r') break;
        if (c != 0 && c != '\xFF') {
            buf.push_back(c);
            alguno = true;
        }
    }
    if (!fin) {
        // The character after the break is given back unless it is another break (CR LF is one end).
        char d = 0;
        if (LeeChar(d) && d != 0 && d != '\n' && d != '\r') Unget(d);
    }
    line = buf.c_str();
    line.Saca_EspaciosTabs_AntesDespues();
    TransformStrCodepage(line);
    return alguno || !fin;
}

bool TFicheroITV::get_dato_texto(DString& token) {
    if (!(modo_ & FITX_LEE) || !(modo_ & FITX_TEXTO)) throw DString("Error en get_dato_texto");
    token.Vacia();
    auto separador = [this](char c) {
        return c == 0 || c == '\r' || c == '\n' || separadores_.strchr(c) >= 0;
    };
    char c = 0;
    bool hay = false;
    while ((hay = LeeChar(c)) && separador(c)) {
    }
    if (!hay) return false;
    std::string buf;
    do {
        buf.push_back(c);
    } while (LeeChar(c) && !separador(c));
    token = buf.c_str();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Value streaming

bool TFicheroITV::PonToken(const char* text) {
    bool ok = PonTokenBin(text, static_cast<int64_t>(strlen(text)));
    if (separador_token_) ok = PonTokenBin(&separador_token_, 1) && ok;
    return ok;
}

bool TFicheroITV::LeeBinario(void* v, int bytes) {
    int64_t n = 0;
    bool ok = LeeTokenBin(v, bytes, nullptr, 0, &n);
    if (!ok) std::memset(static_cast<char*>(v) + n, 0, static_cast<size_t>(bytes - n));
    return ok;
}

namespace {
template <class T> DString Decimal(T v) {
    DString s;
    s << v;
    return s;
}
} // namespace

#define DL_PON_ENTERO(T)                                                                                     \
    TFicheroITV& TFicheroITV::operator<<(T v) {                                                              \
        if (modo_ & FITX_TEXTO)                                                                              \
            PonToken(Decimal(v).c_str());                                                                    \
        else                                                                                                 \
            PonTokenBin(&v, sizeof v);                                                                       \
        return *this;                                                                                        \
    }
DL_PON_ENTERO(short)
DL_PON_ENTERO(unsigned short)
DL_PON_ENTERO(int)
DL_PON_ENTERO(unsigned int)
DL_PON_ENTERO(long)
DL_PON_ENTERO(unsigned long)
DL_PON_ENTERO(long long)
#undef DL_PON_ENTERO

TFicheroITV& TFicheroITV::operator<<(char v) {
    if (modo_ & FITX_TEXTO) {
        char s[2] = {v, 0};
        PonToken(s);
    } else {
        PonTokenBin(&v, 1);
    }
    return *this;
}

TFicheroITV& TFicheroITV::operator<<(unsigned char v) {
    return *this << static_cast<char>(v);
}

TFicheroITV& TFicheroITV::operator<<(bool v) {
    if (modo_ & FITX_TEXTO) return *this << static_cast<char>(v ? '1' : '0');
    char b = v ? 1 : 0;
    PonTokenBin(&b, 1);
    return *this;
}

TFicheroITV& TFicheroITV::operator<<(float v) {
    if (modo_ & FITX_TEXTO) {
        DString s;
        s.Dsprintf("%.9g", static_cast<double>(v));
        PonToken(s.c_str());
    } else {
        PonTokenBin(&v, sizeof v);
    }
    return *this;
}

TFicheroITV& TFicheroITV::operator<<(double v) {
    if (modo_ & FITX_TEXTO) {
        DString s;
        s.Dsprintf("%.17g", v);
        PonToken(s.c_str());
    } else {
        PonTokenBin(&v, sizeof v);
    }
    return *this;
}

TFicheroITV& TFicheroITV::operator<<(const char* v) {
    if (!v) v = "";
    size_t len = strlen(v);
    if (modo_ & FITX_TEXTO) {
        PonTokenBin(v, static_cast<int64_t>(len));
        return *this;
    }
    int16_t l = static_cast<int16_t>(std::min<size_t>(len, 32767));
    PonTokenBin(&l, 2);
    PonTokenBin(v, l);
    PonTokenBin("", 1);
    return *this;
}

namespace {
// Decimal text as the C library reads it in the "C" locale (exact, whatever the user's locale).
double LeeDouble(const DString& t) {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c ? strtod_l(t.c_str(), nullptr, c) : t.atof();
}
} // namespace

#define DL_LEE_ENTERO(T, conv)                                                                               \
    TFicheroITV& TFicheroITV::operator>>(T& v) {                                                             \
        if (modo_ & FITX_TEXTO) {                                                                            \
            DString t;                                                                                       \
            get_dato_texto(t);                                                                               \
            v = static_cast<T>(conv);                                                                        \
        } else {                                                                                             \
            LeeBinario(&v, sizeof v);                                                                        \
        }                                                                                                    \
        return *this;                                                                                        \
    }
DL_LEE_ENTERO(short, t.atoi64())
DL_LEE_ENTERO(unsigned short, t.atoi64())
DL_LEE_ENTERO(int, t.atoi64())
DL_LEE_ENTERO(unsigned int, t.atoi64())
DL_LEE_ENTERO(long, t.atoi64())
DL_LEE_ENTERO(unsigned long, strtoull(t.c_str(), nullptr, 10))
DL_LEE_ENTERO(long long, t.atoi64())
DL_LEE_ENTERO(float, LeeDouble(t))
DL_LEE_ENTERO(double, LeeDouble(t))
#undef DL_LEE_ENTERO

TFicheroITV& TFicheroITV::operator>>(char& v) {
    if (modo_ & FITX_TEXTO) {
        v = fgetc();
    } else {
        LeeBinario(&v, 1);
    }
    return *this;
}

TFicheroITV& TFicheroITV::operator>>(unsigned char& v) {
    char c = 0;
    *this >> c;
    v = static_cast<unsigned char>(c);
    return *this;
}

TFicheroITV& TFicheroITV::operator>>(bool& v) {
    if (modo_ & FITX_TEXTO) {
        DString t;
        get_dato_texto(t);
        v = t.atoi64() != 0;
    } else {
        char b = 0;
        LeeBinario(&b, 1);
        v = b != 0;
    }
    return *this;
}

TFicheroITV& TFicheroITV::operator>>(DString& v) {
    v.Vacia();
    if (modo_ & FITX_TEXTO) {
        get_dato_texto(v);
        return *this;
    }
    int64_t l = 0;
    if (ancho_longitud_ == 1) {
        uint8_t b = 0;
        LeeBinario(&b, 1);
        l = b;
    } else if (ancho_longitud_ == 4) {
        int32_t b = 0;
        LeeBinario(&b, 4);
        l = b;
    } else {
        uint16_t b = 0;
        LeeBinario(&b, 2);
        l = b;
    }
    // A length the rest of the file cannot hold is damage, not a string.
    if (l < 0 || l + 1 > FileSize64() - PosActual64()) return *this;
    std::vector<char> buf(static_cast<size_t>(l) + 1);
    LeeBinario(buf.data(), static_cast<int>(l + 1));
    buf[static_cast<size_t>(l)] = 0;
    v = buf.data();
    return *this;
}

// Times: in text mode the "05-MAR-19 14:07:09" form (read back as two tokens); in binary mode a
// 32-byte record: 8 zero bytes, then day, month, year, hour and minute (int32) and the seconds (float).
TFicheroITV& TFicheroITV::operator<<(const TTemps& v) {
    if (modo_ & FITX_TEXTO) {
        DString t;
        v.A_str_dd_mmm_aa__hora(t);
        PonToken(t.c_str());
        return *this;
    }
    char rec[32] = {};
    int32_t campos[5] = {v.dia, v.mes, v.anyo, v.hora, v.minuto};
    std::memcpy(rec + 8, campos, sizeof campos);
    std::memcpy(rec + 28, &v.segundos, 4);
    PonTokenBin(rec, sizeof rec);
    return *this;
}

TFicheroITV& TFicheroITV::operator>>(TTemps& v) {
    if (modo_ & FITX_TEXTO) {
        DString fecha, hora;
        get_dato_texto(fecha);
        get_dato_texto(hora);
        v.Lee_Fecha_mmm_Hora(fecha + " " + hora);
        return *this;
    }
    char rec[32];
    LeeBinario(rec, sizeof rec);
    int32_t campos[5];
    std::memcpy(campos, rec + 8, sizeof campos);
    v.dia = campos[0];
    v.mes = campos[1];
    v.anyo = campos[2];
    v.hora = campos[3];
    v.minuto = campos[4];
    std::memcpy(&v.segundos, rec + 28, 4);
    return *this;
}

TFicheroITV& TFicheroITV::operator<<(const TDifTemps& v) {
    return *this << v.segundos;
}

TFicheroITV& TFicheroITV::operator>>(TDifTemps& v) {
    return *this >> v.segundos;
}

// ---------------------------------------------------------------------------------------------
// Bulk copy

namespace {
void SetStrMonitorState(TMonitorProc* monitor) {
    if (!monitor) return;
    DString t;
    int64_t pos = monitor->npasos.load(), total = monitor->total.load();
    if (total < 2) {
        t.Dsprintf("%d Kb ", static_cast<int>(pos));
    } else {
        DString a, b;
        TFitxUtils::FileSizeToString(pos, a);
        TFitxUtils::FileSizeToString(total, b);
        t.Dsprintf("%s %s / %s %s ", " ", a.c_str(), " ", b.c_str());
    }
    monitor->texto = t;
}
} // namespace

bool TFicheroITV::CopyFileData(TFicheroITV& destination, int64_t count, TStringErr& err,
                               TMonitorProc* monitor) {
    if (!Abierto() || !destination.Abierto()) {
        err = "Error opening files in CopyFileData()";
        return false;
    }
    if (monitor) {
        monitor->npasos = 0;
        monitor->total = count;
        SetStrMonitorState(monitor);
    }
    if (count <= 0) return true;
    const int64_t bloque = count <= 1000000 ? 4096 : 262144;
    std::vector<char> buf(static_cast<size_t>(bloque));
    int64_t queda = count;
    while (queda > 0) {
        int64_t n = std::min(bloque, queda);
        if (!LeeTokenBin(buf.data(), n)) {
            err = "Error in CopyFileData()";
            err << " Error reading " << nombre_;
            return false;
        }
        if (!destination.PonTokenBin(buf.data(), n)) {
            // Which file could not be written, and why (a full disk, a device gone).
            TStringErr_i e;
            ComposeStringError(&e, true, destination.nombre_.c_str(),
                               destination.errno_escritura_ ? strerror(destination.errno_escritura_)
                                                            : nullptr);
            err = "Error in CopyFileData()";
            err << " " << e;
            return false;
        }
        queda -= n;
        if (monitor) {
            monitor->Incre(n, false);
            SetStrMonitorState(monitor);
            if (monitor->HayStop()) {
                err = "Operation canceled";
                return false;
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Whole files

bool TFicheroITV::LeeTodoAString(const TStringNomFitx& name, DString& text, TStringErr* err) {
    TFicheroITV f;
    text.Vacia();
    if (!f.Abre(name, FITX_LEE | FITX_TEXTO, err)) return false;
    int64_t size = f.FileSize64() - f.PosActual64();
    int64_t n = f.Lee_Todo_Str(text, true);
    f.CierraEx(true, nullptr);
    if (size > 0 && n == 0) {
        TFicheroITV::ComposeStringError(err, false, name.c_str(), "read failed");
        return false;
    }
    return true;
}

bool TFicheroITV::GuardaTodoAString(const TStringNomFitx& name, const CDString& text, TStringErr* err) {
    TFicheroITV f;
    if (!f.Abre(name, FITX_ESCRIBE | FITX_TEXTO | FITX_TEMPORAL, err)) return false;
    if (!f.PonTokenBin(text.c_str(), text.Length())) {
        f.CierraEx(false, nullptr);
        ComposeStringError(err, true, name.c_str(), nullptr);
        return false;
    }
    return f.CierraEx(true, err);
}

// ---------------------------------------------------------------------------------------------
// Memory file

TFicheroITVdatos::TFicheroITVdatos(int mode, int64_t reserve) : reserve_(reserve < 0 ? 0 : reserve) {
    modo_ = mode;
    nombre_ = "TFicheroITVdatos";
    buf_ = new char[1000];
    cap_ = 1000;
    owns_ = true;
}

TFicheroITVdatos::TFicheroITVdatos(int mode, const void* data, int64_t length) {
    modo_ = mode;
    nombre_ = "TFicheroITVdatos";
    buf_ = static_cast<char*>(const_cast<void*>(data));
    len_ = length < 0 ? 0 : length;
    owns_ = false;
}

TFicheroITVdatos::~TFicheroITVdatos() {
    if (owns_) delete[] buf_;
}

void TFicheroITVdatos::Set_Datos_Lectura(const void* data, int64_t length, bool owns) {
    if (owns_) delete[] buf_;
    buf_ = static_cast<char*>(const_cast<void*>(data));
    len_ = length < 0 ? 0 : length;
    pos_ = 0;
    cap_ = 0;
    owns_ = owns;
    pushback_.Vacia();
}

char* TFicheroITVdatos::Cierra_Retornando_Ptr(int64_t& length) {
    char* p = buf_;
    length = len_;
    buf_ = nullptr;
    cap_ = len_ = pos_ = 0;
    owns_ = true;
    return p;
}

char* TFicheroITVdatos::Vacia_Retornando_Ptr(int64_t& length) {
    length = len_;
    len_ = pos_ = 0;
    return buf_;
}

void TFicheroITVdatos::ActuLenMax(int64_t n) {
    if (cap_ >= n) return;
    if (!owns_) throw DString("Error, en TFicheroITVdatos::ActuLenMax");
    int64_t nueva = (n + reserve_ + 1000) & ~static_cast<int64_t>(3);
    char* p = new (std::nothrow) char[static_cast<size_t>(nueva)];
    if (!p) {
        DString msg;
        msg << "Error in TFicheroITVdatos::ActuLenMax tr="
            << "1"
            << " siz= " << static_cast<long long>(nueva) << " nuevo= "
            << "0"
            << " tamany= " << static_cast<long long>(len_);
        throw msg;
    }
    if (buf_ && len_ > 0) std::memcpy(p, buf_, static_cast<size_t>(len_));
    delete[] buf_;
    buf_ = p;
    cap_ = nueva;
}

char* TFicheroITVdatos::Ptr(int64_t n) {
    Vacia();
    ActuLenMax(n);
    return buf_;
}

char* TFicheroITVdatos::PtrPos(int64_t n) {
    ActuLenMax(pos_ + n);
    return buf_ + pos_;
}

void TFicheroITVdatos::Lee(TFicheroITVdatos& other, int64_t position, int64_t length) {
    if (position < 0 || position > other.len_) return;
    if (length < 0 || length > other.len_ - position) length = other.len_ - position;
    if (length > 0) PonTokenBin(other.buf_ + position, length);
}

bool TFicheroITVdatos::PonTokenBin(const void* data, int64_t length, TMonitorProc*, int64_t) {
    if (length <= 0) return true;
    ActuLenMax(pos_ + length);
    if (pos_ > len_) std::memset(buf_ + len_, 0, static_cast<size_t>(pos_ - len_));
    std::memcpy(buf_ + pos_, data, static_cast<size_t>(length));
    pos_ += length;
    if (pos_ > len_) len_ = pos_;
    return true;
}

bool TFicheroITVdatos::LeeTokenBin(void* buffer, int64_t length, TMonitorProc*, int64_t, int64_t* count) {
    if (count) *count = 0;
    if (length <= 0) return true;
    if (pos_ >= len_) {
        std::memset(buffer, 0, static_cast<size_t>(length));
        return false;
    }
    int64_t n = std::min(length, len_ - pos_);
    std::memcpy(buffer, buf_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    if (count) *count = n;
    return true;
}

char TFicheroITVdatos::fgetc_dir() {
    if (pos_ < len_) return buf_[pos_++];
    if (pos_ == len_) pos_++;
    return 0;
}

bool TFicheroITVdatos::Posicionate64(int64_t position) {
    pushback_.Vacia();
    if (position >= 0 && position <= len_) pos_ = position;
    return true;
}
