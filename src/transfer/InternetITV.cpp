#include "transfer/InternetITV.h"

#include "files/FicheroITV.h"
#include "files/FitxUtils.h"
#include "foundation/Monitor.h"
#include "foundation/Registra.h"
#include "platform/HttpFile.h"
#include "platform/Reachability.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

const char* const TInternetITV::kBoundary = "MULTI-PARTS-FORM-DATA-BOUNDARY";

namespace {

std::mutex g_mutex;
THttpLimits g_limits;
DString g_formato1; // "Txt.MgrComm.Transferred1"
DString g_formato2; // "Txt.MgrComm.Transferred2"

std::string ToStd(const CDString& s) {
    return std::string(s.c_str(), static_cast<size_t>(s.Length()));
}

DString FromStd(const std::string& s) {
    return DString(s.c_str());
}

bool EsExito(long status) {
    return status >= 200 && status <= 299;
}

DString ErrorHttp(long status) {
    DString t;
    t << "HTTP error " << static_cast<int>(status);
    return t;
}

void Log(const CDString& text) {
    CustomRegistraComun(text);
}

// Fills the "%s" and "%d" of a catalogue text in order with the given texts. The catalogue is
// data, never a printf format: a wrong or missing placeholder cannot read beyond the arguments.
DString RellenaFormato(const CDString& formato, const std::vector<std::string>& args) {
    std::string out;
    const char* f = formato.c_str();
    size_t next = 0;
    for (size_t i = 0; f[i]; ++i) {
        if (f[i] == '%' && (f[i + 1] == 's' || f[i + 1] == 'd')) {
            if (next < args.size()) out += args[next++];
            ++i;
        } else if (f[i] == '%' && f[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += f[i];
        }
    }
    return FromStd(out);
}

// Value and unit of a size for the progress texts: Kb up to 1 MiB, Mb up to 1 GiB, Gb up to 1 TiB.
void ValorUnidad(int64_t v, std::string& valor, std::string& unidad) {
    if (v < 0) v = 0;
    double d = static_cast<double>(v);
    double div;
    if (v <= (1LL << 20)) {
        div = 1024.0;
        unidad = "Kb";
    } else if (v <= (1LL << 30)) {
        div = 1048576.0;
        unidad = "Mb";
    } else if (v <= (1LL << 40)) {
        div = 1073741824.0;
        unidad = "Gb";
    } else {
        div = 1099511627776.0;
        unidad = "Tb";
    }
    char buf[64];
    snprintf(buf, sizeof buf, "%.2f", d / div);
    valor = buf;
}

void PreparaMonitor(TMonitorProc* monitor) {
    if (!monitor || !monitor->VersionFuncCancel()) return;
    if (monitor->total.load() <= 10) monitor->total = 1;
    monitor->npasos = 0;
}

void PonPosicion(TMonitorProc* monitor, int64_t posicion, int64_t total) {
    if (!monitor) return;
    monitor->total = total > 0 ? total : 1;
    monitor->npasos = posicion;
}

// The bytes of an upload: the head of the form, the file, the tail; read in order.
class TCuerpoMultipart : public THttpBodySource {
public:
    TCuerpoMultipart(std::string head, TFicheroITV& file, int64_t file_size, std::string tail)
        : head_(std::move(head)), tail_(std::move(tail)), file_(file), file_size_(file_size) {}
    int64_t Size() const override {
        return static_cast<int64_t>(head_.size()) + file_size_ + static_cast<int64_t>(tail_.size());
    }
    long Read(char* buffer, size_t length) override {
        size_t done = 0;
        while (done < length && pos_ < Size()) {
            int64_t head = static_cast<int64_t>(head_.size());
            size_t room = length - done;
            if (pos_ < head) {
                size_t n = std::min(room, static_cast<size_t>(head - pos_));
                memcpy(buffer + done, head_.data() + pos_, n);
                done += n;
                pos_ += static_cast<int64_t>(n);
            } else if (pos_ < head + file_size_) {
                size_t n = static_cast<size_t>(
                    std::min<int64_t>(static_cast<int64_t>(room), head + file_size_ - pos_));
                int64_t got = 0;
                if (!file_.LeeTokenBin(buffer + done, static_cast<int64_t>(n), nullptr, 0, &got) ||
                    got != static_cast<int64_t>(n))
                    return -1; // the file shrank or cannot be read: never send a short body
                done += n;
                pos_ += static_cast<int64_t>(n);
            } else {
                int64_t off = pos_ - head - file_size_;
                size_t n = std::min(room, tail_.size() - static_cast<size_t>(off));
                memcpy(buffer + done, tail_.data() + off, n);
                done += n;
                pos_ += static_cast<int64_t>(n);
            }
        }
        return static_cast<long>(done);
    }
    bool Rewind() override {
        pos_ = 0;
        return file_.Posicionate64(0);
    }

private:
    std::string head_, tail_;
    TFicheroITV& file_;
    int64_t file_size_;
    int64_t pos_ = 0;
};

// A form field name or file name placed between quotes in a form part.
std::string CampoSeguro(const CDString& text) {
    std::string out;
    for (const char* p = text.c_str(); *p; ++p) {
        if (*p == '"')
            out += "%22";
        else if (*p == '\r')
            out += "%0D";
        else if (*p == '\n')
            out += "%0A";
        else
            out += *p;
    }
    return out;
}

// The text of a failure to write the local file `name`.
std::string ErrorGuardando(const std::string& name, const THttpFile& file) {
    return "Error saving local file " + name + " (" + file.ErrorText() + ")";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The receiver of one request: the transfer's delegate.

struct TInternetITV::TReceptor : public THttpReceiver {
    TReceptor(int modo_, TMonitorProc* monitor_, DString* nombre_sugerido_ = nullptr,
              DString* tipo_ = nullptr)
        : modo(modo_), monitor(monitor_), nombre_sugerido(nombre_sugerido_), tipo(tipo_) {}

    int modo = MODE_MEMORY;
    TMonitorProc* monitor = nullptr;
    std::string* memoria = nullptr;  // mode 0 and form answers
    THttpFile* fichero = nullptr;    // modes 1 and 2
    std::string nombre;              // the file written (for error texts)
    bool abrir_al_responder = false; // mode 1: the file is created when the answer arrives
    int64_t reanudar_desde = 0;      // mode 2: bytes already in the ".part"
    int64_t esperado = -1;           // mode 2: the caller's expected size
    DString* nombre_sugerido = nullptr;
    DString* tipo = nullptr;

    enum EAccion { SEGUIR, REINICIAR, COMPLETO };
    EAccion accion = SEGUIR;
    std::string error;
    bool abierto = false; // mode 1 created the file
    int64_t recibidos = 0;
    int64_t total = 0;

    bool OnResponse(const THttpResponse& r) override {
        if (nombre_sugerido) *nombre_sugerido = FromStd(r.suggestedName);
        if (tipo) *tipo = FromStd(r.contentType);
        if (modo == MODE_MEMORY) {
            if (r.contentLength > kMaxMemoryBody) {
                error = "Answer too large";
                return false;
            }
            recibidos = 0;
            total = r.contentLength;
            PonPosicion(monitor, 0, total);
            return true;
        }
        if (modo == MODE_RESUMABLE && reanudar_desde > 0) {
            if (r.status == 206) {
                long long desde = -1;
                if (sscanf(r.contentRange.c_str(), "bytes %lld-", &desde) != 1 || desde != reanudar_desde) {
                    accion = REINICIAR; // a range other than the one asked for
                    return false;
                }
            } else if (r.status == 416) {
                // "bytes */N": the ".part" is complete when it already holds the N bytes.
                long long n = -1;
                if (sscanf(r.contentRange.c_str(), "bytes */%lld", &n) == 1 && n == reanudar_desde &&
                    (esperado < 0 || esperado == n)) {
                    accion = COMPLETO;
                    return true;
                }
                accion = REINICIAR;
                return false;
            } else if (EsExito(r.status)) {
                accion = REINICIAR; // the whole body again: it must not be appended
                return false;
            } else {
                error = ToStd(ErrorHttp(r.status));
                return false;
            }
        } else if (!EsExito(r.status) || (r.status == 206 && r.contentRange.compare(0, 8, "bytes 0-") != 0)) {
            // A part of the file that was not asked for is as wrong as an error page.
            error = ToStd(ErrorHttp(r.status));
            return false;
        }
        if (abrir_al_responder) {
            if (!fichero->Open(nombre, true)) {
                error = ErrorGuardando(nombre, *fichero);
                return false;
            }
            abierto = true;
        }
        recibidos = reanudar_desde;
        if (modo == MODE_RESUMABLE && esperado > 0)
            total = esperado;
        else
            total = r.contentLength >= 0 ? reanudar_desde + r.contentLength : -1;
        PonPosicion(monitor, recibidos, total);
        return true;
    }

    bool OnData(const char* data, size_t length) override {
        if (accion == COMPLETO) return true; // the body of a 416: never part of the file
        if (modo == MODE_MEMORY || !fichero) {
            if (static_cast<int64_t>(memoria->size() + length) > kMaxMemoryBody) {
                error = "Answer too large";
                return false;
            }
            memoria->append(data, length);
        } else if (!fichero->Write(data, length)) {
            error = ErrorGuardando(nombre, *fichero);
            return false;
        }
        recibidos += static_cast<int64_t>(length);
        if (monitor) {
            monitor->Incre(static_cast<int64_t>(length));
            if (modo != MODE_MEMORY) monitor->texto = TInternetITV::Texto_Progreso(recibidos, total);
        }
        return true;
    }

    bool IsCancelled() override { return MonHayStop(monitor); }
};

// ---------------------------------------------------------------------------------------------

TInternetITV::TInternetITV(const char*, const char*, void*) : limits_(Get_Default_Limits()) {}

void TInternetITV::Set_Default_Limits(const THttpLimits& limits) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_limits = limits;
}

THttpLimits TInternetITV::Get_Default_Limits() {
    std::lock_guard<std::mutex> hold(g_mutex);
    return g_limits;
}

void TInternetITV::Set_CAFile(const DString& pem_file) {
    Http_SetExtraCAFile(ToStd(pem_file));
}

void TInternetITV::Set_Progress_Formats(const DString& transferred1, const DString& transferred2) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_formato1 = transferred1;
    g_formato2 = transferred2;
}

DString TInternetITV::Texto_Progreso(int64_t position, int64_t total) {
    DString f1, f2;
    {
        std::lock_guard<std::mutex> hold(g_mutex);
        f1 = g_formato1;
        f2 = g_formato2;
    }
    if (total <= 0 && !f1.IsEmpty())
        return RellenaFormato(f1, {std::to_string(std::max<int64_t>(position, 0) / 1024)});
    if (total > 0 && !f2.IsEmpty()) {
        std::string v1, u1, v2, u2;
        ValorUnidad(position, v1, u1);
        ValorUnidad(total, v2, u2);
        return RellenaFormato(f2, {v1, u1, v2, u2});
    }
    return Text_Proceso_Smart_Size(position, total < 0 ? 0 : total);
}

DString TInternetITV::Url_Para_Log(const DString& url) {
    std::string u = ToStd(url);
    size_t cut = u.find_first_of("?#");
    if (cut != std::string::npos) u = u.substr(0, cut);
    size_t scheme = u.find("://");
    std::string prefix = scheme == std::string::npos ? std::string() : u.substr(0, scheme + 3);
    std::string host = THttpTransfer::HostOf(u);
    size_t path = u.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return FromStd(prefix + host + (path == std::string::npos ? std::string() : u.substr(path)));
}

void TInternetITV::Prepara(THttpTransfer& http, const DString& url, const DString* headers) const {
    DString encoded = url;
    encoded.URLEncode();
    http.SetUrl(ToStd(encoded));
    http.SetLimits(limits_);
    if (headers) {
        std::string all = ToStd(*headers);
        size_t pos = 0;
        while (pos <= all.size()) {
            size_t end = all.find('\n', pos);
            std::string line = all.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find(':') != std::string::npos) http.AddHeader(line);
            if (end == std::string::npos) break;
            pos = end + 1;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// GET

bool TInternetITV::DescargaHTTP_ITV_Str(const DString& url, DString& text, TStringErr& err,
                                        TMonitorProc* monitor, DString* headers) {
    TStringNomFitx none;
    return DescargaHTTP_ITV(url, MODE_MEMORY, text, none, err, monitor, nullptr, nullptr, -1, headers);
}

bool TInternetITV::DescargaHTTP_ITV_File(const DString& url, const TStringNomFitx& target, TStringErr& err,
                                         TMonitorProc* monitor, DString* suggested_name,
                                         DString* content_type, bool resume, DString* response,
                                         int64_t expected_size, const DString* headers) {
    DString sink;
    DString& text = response ? *response : sink;
    int mode = resume ? MODE_RESUMABLE : MODE_FILE;
    bool ok = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ok = DescargaHTTP_ITV(url, mode, text, target, err, monitor, suggested_name, content_type,
                              expected_size, headers);
        if (ok || !resume_) break;
        bool retry = false;
        RD_New_Try(err, retry, monitor);
        if (!retry) break;
    }
    return ok;
}

bool TInternetITV::RD_New_Try(TStringErr& err, bool& retry, TMonitorProc* monitor) {
    retry = false;
    if (err.Contains("404") || MonHayStop(monitor)) return false;
    if (retries_ >= 2) {
        retries_ = 0;
        return false;
    }
    DString t;
    t << "TInternetITV::RD_New_Try() . retry=" << (retries_ + 1) << " . error=" << err;
    Log(t);
    err.Vacia();
    ++retries_;
    retry = true;
    return true;
}

bool TInternetITV::DescargaHTTP_ITV(const DString& url, int mode, DString& text, const TStringNomFitx& target,
                                    TStringErr& err, TMonitorProc* monitor, DString* suggested_name,
                                    DString* content_type, int64_t expected_size, const DString* headers) {
    if (mode == MODE_RESUMABLE && !resume_) mode = MODE_FILE;
    if (mode != MODE_MEMORY && !TFitxUtils::Crea_Carpeta(target, true, &err)) {
        last_failed_ = true;
        return false;
    }
    PreparaMonitor(monitor);
    {
        DString t;
        t << "TInternetITV::DescargaHTTP_ITV() . mode=" << mode << " . url=" << Url_Para_Log(url);
        if (mode != MODE_MEMORY) t << " . file=" << target;
        Log(t);
    }
    bool ok = false;
    if (mode == MODE_MEMORY)
        ok = Modo_Memoria(url, text, err, monitor, suggested_name, content_type, headers);
    else if (mode == MODE_FILE)
        ok = Modo_Fichero(url, target, err, monitor, suggested_name, content_type, headers);
    else
        ok = Modo_Reanudable(url, target, err, monitor, suggested_name, content_type, expected_size, headers);
    last_failed_ = !ok;
    if (!ok) {
        DString t;
        t << "TInternetITV::DescargaHTTP_ITV() . ok=0 . mode=" << mode << " . url=" << Url_Para_Log(url)
          << " . error=" << err;
        Log(t);
    }
    return ok;
}

bool TInternetITV::Modo_Memoria(const DString& url, DString& text, TStringErr& err, TMonitorProc* monitor,
                                DString* suggested_name, DString* content_type, const DString* headers) {
    THttpTransfer http;
    Prepara(http, url, headers);
    std::string body;
    TReceptor r(MODE_MEMORY, monitor, suggested_name, content_type);
    r.memoria = &body;
    THttpTransfer::EResult res = http.Perform(r);
    if (res == THttpTransfer::Ok) {
        text = FromStd(body);
        return err.IsEmpty();
    }
    err = FromStd(!r.error.empty() ? r.error : http.ErrorText());
    return false;
}

bool TInternetITV::Modo_Fichero(const DString& url, const TStringNomFitx& target, TStringErr& err,
                                TMonitorProc* monitor, DString* suggested_name, DString* content_type,
                                const DString* headers) {
    MonSetTexto(monitor, target.nom_fitx_ext());
    THttpTransfer http;
    Prepara(http, url, headers);
    THttpFile file;
    TReceptor r(MODE_FILE, monitor, suggested_name, content_type);
    r.fichero = &file;
    r.nombre = ToStd(target);
    r.abrir_al_responder = true;
    THttpTransfer::EResult res = http.Perform(r);
    bool closed = r.abierto && file.Close();
    if (res == THttpTransfer::Ok && closed && err.IsEmpty()) return true;
    if (res == THttpTransfer::Ok && r.abierto && !closed)
        err = FromStd(ErrorGuardando(r.nombre, file));
    else if (res != THttpTransfer::Ok)
        err = FromStd(!r.error.empty() ? r.error : http.ErrorText());
    if (r.abierto) // a plain download leaves nothing behind when it fails
        TFitxUtils::Delete_File(target);
    return false;
}

bool TInternetITV::Modo_Reanudable(const DString& url, const TStringNomFitx& target, TStringErr& err,
                                   TMonitorProc* monitor, DString* suggested_name, DString* content_type,
                                   int64_t expected_size, const DString* headers) {
    if (TFitxUtils::Verifica_Existencia_Archivo(target) && !TFitxUtils::Delete_File(target, &err))
        return false;
    TStringNomFitx part = target;
    part += ".part";
    std::string partName = ToStd(part);
    MonSetTexto(monitor, target.nom_fitx_ext());

    bool empezar_de_cero = false;
    for (int pass = 0; pass < 2; ++pass) {
        THttpFile file;
        if (!file.Open(partName, empezar_de_cero)) {
            err = FromStd(ErrorGuardando(partName, file));
            return false;
        }
        int64_t P = file.Size();
        if (expected_size >= 0 && P > expected_size) {
            DString t;
            t << "TInternetITV::DescargaHTTP_ITV() . partial file larger than expected, started again . size="
              << static_cast<long long>(P) << " . expected=" << static_cast<long long>(expected_size);
            Log(t);
            if (!file.Truncate()) {
                err = FromStd(ErrorGuardando(partName, file));
                return false;
            }
            P = 0;
        }
        THttpTransfer http;
        Prepara(http, url, headers);
        http.SetResumeFrom(P);
        TReceptor r(MODE_RESUMABLE, monitor, suggested_name, content_type);
        r.fichero = &file;
        r.nombre = partName;
        r.reanudar_desde = P;
        r.esperado = expected_size;
        THttpTransfer::EResult res = http.Perform(r);
        bool closed = file.Close();

        if (res == THttpTransfer::Cancelled) {
            err = FromStd(http.ErrorText()); // the ".part" stays for a later resume
            return false;
        }
        bool reiniciar = res == THttpTransfer::RangeRefused ||
                         (res == THttpTransfer::Aborted && r.accion == TReceptor::REINICIAR);
        if (reiniciar) {
            DString t;
            t << "TInternetITV::DescargaHTTP_ITV() . the server did not resume at "
              << static_cast<long long>(P) << ": partial file started again . url=" << Url_Para_Log(url);
            Log(t);
            if (pass == 0) {
                empezar_de_cero = true;
                continue;
            }
            err = "The server did not resume the download of ";
            err << target.nom_fitx_ext();
            return false;
        }
        if (res != THttpTransfer::Ok) {
            err = FromStd(!r.error.empty() ? r.error : http.ErrorText());
            return false;
        }
        if (!closed) {
            err = FromStd(ErrorGuardando(partName, file));
            return false;
        }
        int64_t size = THttpFile::SizeOf(partName);
        if (expected_size > 0 && size < expected_size) {
            // Never accepted as complete; the next attempt resumes from here.
            err = "Incomplete download of ";
            err << target.nom_fitx_ext() << ": " << static_cast<long long>(size) << " of "
                << static_cast<long long>(expected_size) << " bytes";
            return false;
        }
        if (MonHayStop(monitor)) {
            err = "Operation canceled";
            return false;
        }
        TStringErr_i moveErr;
        if (!TFitxUtils::Move_File(part, target, &moveErr)) {
            err = "Error renaming file from partial: ";
            err << part;
            return false;
        }
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// POST and upload

bool TInternetITV::Envia_Formulario(const DString& url, THttpTransfer& http, const char* funcion,
                                    DString& response, TStringErr& err, TMonitorProc* monitor) {
    std::string body;
    TReceptor r(MODE_MEMORY, monitor);
    r.memoria = &body;
    THttpTransfer::EResult res = http.Perform(r);
    bool ok = res == THttpTransfer::Ok;
    if (ok)
        response = FromStd(body);
    else
        err = FromStd(!r.error.empty() ? r.error : http.ErrorText());
    DString t;
    t << funcion << " . ok=" << ok << " . url=" << Url_Para_Log(url);
    if (ok)
        t << " . status=" << static_cast<int>(http.Response().status);
    else
        t << " . error=" << err;
    Log(t);
    return ok && err.IsEmpty();
}

bool TInternetITV::Post_HTTP_ITV_Str(const DString& url, const char* body, DString& response, TStringErr& err,
                                     TMonitorProc* monitor, const DString*) {
    THttpTransfer http;
    Prepara(http, url, nullptr);
    http.AddHeader("content-type: application/x-www-form-urlencoded");
    http.AddHeader("cache-control: no-cache");
    http.AddHeader("Expect:");
    std::string text = body ? body : "";
    http.SetPostBody(text);
    PreparaMonitor(monitor);
    DString t;
    // The body carries credentials: only its size is logged.
    t << "TInternetITV::Post_HTTP_ITV_Str() . url=" << Url_Para_Log(url)
      << " . Header: content-type, cache-control . Body: " << static_cast<int>(text.size()) << " bytes";
    Log(t);
    return Envia_Formulario(url, http, "TInternetITV::Post_HTTP_ITV_Str()", response, err, monitor);
}

std::string TInternetITV::Multipart_Head(const DString& fields, const DString& file_field_name,
                                         const DString& file_name) {
    const std::string B = kBoundary;
    std::string out = "\r\n";
    std::string all = ToStd(fields);
    size_t pos = 0;
    while (pos <= all.size() && !all.empty()) {
        size_t end = all.find('&', pos);
        DString piece = FromStd(all.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        piece.Saca_Espacios_AntesDespues();
        if (!piece.IsEmpty()) {
            std::string p = ToStd(piece);
            size_t eq = p.find('=');
            std::string name = eq == std::string::npos ? p : p.substr(0, eq);
            std::string value = eq == std::string::npos ? std::string() : p.substr(eq + 1);
            out += "--" + B + "\r\n";
            out += "Content-Disposition: form-data; name=\"" + CampoSeguro(FromStd(name)) + "\"\r\n\r\n";
            out += value + "\r\n";
        }
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    out += "--" + B + "\r\n";
    out += "Content-Disposition: form-data; name=\"" + CampoSeguro(file_field_name) + "\"; filename=\"" +
           CampoSeguro(file_name) + "\"\r\n";
    out += "Content-Type: application/octet-stream\r\n\r\n";
    return out;
}

std::string TInternetITV::Multipart_Tail() {
    return std::string("\r\n--") + kBoundary + "--\r\n";
}

bool TInternetITV::Sube_Fichero_HTTP(const DString& url, const TStringNomFitx& file, const DString& fields,
                                     const DString& file_field_name, DString& response, TStringErr& err,
                                     TMonitorProc* monitor, DString*) {
    TFicheroITV f;
    if (!f.Abre(file, 0x11, &err)) return false;
    int64_t size = f.FileSize64();
    TCuerpoMultipart body(Multipart_Head(fields, file_field_name, file.nom_fitx_ext()), f, size,
                          Multipart_Tail());

    THttpTransfer http;
    Prepara(http, url, nullptr);
    DString ct;
    ct << "Content-Type: multipart/form-data; boundary=" << kBoundary;
    http.AddHeader(ToStd(ct));
    http.AddHeader("Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    http.AddHeader("Accept-Encoding: gzip,deflater");
    http.AddHeader("Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7");
    http.AddHeader("Expect:");
    http.SetDecodeContent(true); // the answer may come compressed, as the request allows
    http.SetPostSource(&body);
    PreparaMonitor(monitor);
    DString t;
    t << "TInternetITV::Sube_Fichero_HTTP() . url=" << Url_Para_Log(url) << " . file=" << file
      << " . size=" << static_cast<long long>(body.Size());
    Log(t);
    bool ok = Envia_Formulario(url, http, "TInternetITV::Sube_Fichero_HTTP()", response, err, monitor);
    f.CierraEx(false);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Record transfers

bool TFileDownloader::DownloadData(TDownloadData& data, TStringErr& err, TMonitorProc* monitor) {
    TInternetITV net(data.unused_a.c_str(), data.unused_b.c_str());
    if (data.download) {
        if (!data.local_file.IsEmpty())
            return net.DescargaHTTP_ITV_File(data.url, data.local_file, err, monitor, &data.suggested_name,
                                             &data.content_type, false, &data.response, -1, nullptr);
        return net.DescargaHTTP_ITV_Str(data.url, data.response, err, monitor, nullptr);
    }
    if (!data.local_file.IsEmpty()) {
        bool ok = net.Sube_Fichero_HTTP(data.url, data.local_file, data.body, data.file_field_name,
                                        data.response, err, monitor, nullptr);
        if (!ok && err.IsEmpty()) err = "Error uploading the file.";
        return ok;
    }
    return net.Post_HTTP_ITV_Str(data.url, data.body.c_str(), data.response, err, monitor, nullptr);
}

bool FuncDownloadData(TDownloadData& data, TStringErr& err, TMonitorProc* monitor) {
    return TFileDownloader::DownloadData(data, err, monitor);
}

bool TFileDownloader::DeleteOriginalFile(const TStringNomFitx& name) {
    if (!TFitxUtils::Verifica_Existencia_Archivo(name)) return true;
    TStringErr_i e;
    TFitxUtils::Delete_File(name, &e);
    return !TFitxUtils::Verifica_Existencia_Archivo(name);
}

bool TFileDownloader::Download(TDownloadData& data, TStringErr&, TMonitorProc* monitor) {
    TStringErr_i err;
    bool to_file = data.download && !data.local_file.IsEmpty();
    TStringNomFitx target = data.local_file;
    TStringNomFitx temp = target;
    if (to_file) {
        temp += ".temp";
        data.local_file = temp;
    }
    bool ok = DownloadData(data, err, monitor);
    if (ok && data.response.StartsWith("ERROR=")) {
        ok = false;
        err = data.response.SubString(6);
    }
    if (to_file) {
        data.local_file = target;
        if (!ok || !DeleteOriginalFile(target)) {
            if (ok) err = "Error deleting file: ";
            ok = false;
            DeleteOriginalFile(temp);
        } else {
            TStringErr_i moveErr;
            if (!TFitxUtils::Move_File(temp, target, &moveErr)) {
                err = "Error renaming downloaded file";
                ok = false; // the file is not where the caller will look for it
                DeleteOriginalFile(temp);
            }
        }
    }
    if (!ok) {
        DString t;
        t << "TFileDownloader::Download() . ok=0 . url=" << TInternetITV::Url_Para_Log(data.url)
          << " . error=" << err;
        Log(t);
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Availability

bool TInternetOSAL::IsAvailable(TStringErr& err) {
    err << "IsInternetAvailable NOT IMPLEMENTED for this platform";
    return false;
}

bool TInternetOSALMac::IsAvailable(TStringErr& err) {
    return Apple_IsInternetAvailable(err);
}

TInternetOSAL* TInternetOSALBuilder::Build() {
    return new TInternetOSALMac();
}

TInternetCheck::TInternetCheck() : probe_(TInternetOSALBuilder::Build()) {}

TInternetCheck::~TInternetCheck() {
    delete probe_;
}

bool TInternetCheck::IsAvailable(TStringErr& err) {
    TStringErr_i detail;
    if (probe_ && probe_->IsAvailable(detail)) return true;
    err.Set(TStringErr::eNoInternet, detail.c_str());
    if (err.IsEmpty()) err = TStringErr::typeErrorMessges[TStringErr::eNoInternet];
    return false;
}

bool IsInternetAvailable(TStringErr& err) {
    TInternetCheck check;
    return check.IsAvailable(err);
}
