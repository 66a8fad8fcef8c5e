// HTTP transfers of the program: a URL into memory, a URL into a file (plain, or resumable from a
// ".part" file with bounded retries), a form POST and a multipart file upload; the record-driven
// transfers of the background queue and the statistics client; the network-availability probe.
//
// Every call blocks the calling thread until the transfer has ended (callers run transfers on
// worker threads). Progress and cancellation pass through a TMonitorProc (may be null): a stop
// request ends the transfer within one wait slice (1 s) or at the next data block. Results are a
// bool plus the text of a TStringErr: empty on success, the reason otherwise.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/StringErr.h"
#include "platform/HttpTransfer.h"

#include <cstdint>
#include <string>

class TMonitorProc;

// One transfer object per transfer; used by one thread.
class TInternetITV {
public:
    // Service answers (mode 0) larger than this fail instead of filling the memory.
    static constexpr int64_t kMaxMemoryBody = 64LL * 1024 * 1024;
    // Mode of DescargaHTTP_ITV.
    enum { MODE_MEMORY = 0, MODE_FILE = 1, MODE_RESUMABLE = 2 };

    // The three arguments are not used.
    explicit TInternetITV(const char* unused1 = nullptr, const char* unused2 = nullptr,
                          void* unused3 = nullptr);

    // Resumable file downloads, with retries, happen only with this switch on (default off).
    void Set_Resume_Download(bool on) { resume_ = on; }
    // Limits of this object's transfers (default: the process-wide ones).
    void Set_Limits(const THttpLimits& limits) { limits_ = limits; }
    const THttpLimits& Get_Limits() const { return limits_; }

    // Process-wide limits given to every new object: connect time-out and idle limit of 240 s,
    // 1-second wait slices. Tests shorten them; set before transfers start.
    static void Set_Default_Limits(const THttpLimits& limits);
    static THttpLimits Get_Default_Limits();
    // The "CAFile=" configuration value: a PEM file of authorities trusted besides the system's.
    static void Set_CAFile(const DString& pem_file);
    // Progress formats from the message catalogue ("Txt.MgrComm.Transferred1": "%d Kb transferred",
    // used while the total is unknown; "Txt.MgrComm.Transferred2": "%s %s of %s %s transferred").
    // Empty texts restore the built-in "512.00 Kb/10.00 Mb" form.
    static void Set_Progress_Formats(const DString& transferred1, const DString& transferred2);

    // GET into memory (mode 0). The answer's status is not examined: the body is the text.
    // headers: extra request header lines ("Name: value", separated by line breaks), may be null.
    bool DescargaHTTP_ITV_Str(const DString& url, DString& text, TStringErr& err,
                              TMonitorProc* monitor = nullptr, DString* headers = nullptr);
    // GET into a file: resumable (mode 2) when resume is true and the resume switch is on, with up
    // to two retries; otherwise plain (mode 1), one attempt. expected_size: -1 when unknown.
    bool DescargaHTTP_ITV_File(const DString& url, const TStringNomFitx& target, TStringErr& err,
                               TMonitorProc* monitor = nullptr, DString* suggested_name = nullptr,
                               DString* content_type = nullptr, bool resume = false,
                               DString* response = nullptr, int64_t expected_size = -1,
                               const DString* headers = nullptr);
    // One attempt in the given mode.
    bool DescargaHTTP_ITV(const DString& url, int mode, DString& text, const TStringNomFitx& target,
                          TStringErr& err, TMonitorProc* monitor, DString* suggested_name,
                          DString* content_type, int64_t expected_size, const DString* headers);
    // After a failed attempt: a retry is granted (err emptied, retry true) unless the error names a
    // 404, the monitor was stopped, or two retries were granted already (then the count restarts).
    bool RD_New_Try(TStringErr& err, bool& retry, TMonitorProc* monitor);

    // POST of a form ("application/x-www-form-urlencoded"); the answer goes to response.
    bool Post_HTTP_ITV_Str(const DString& url, const char* body, DString& response, TStringErr& err,
                           TMonitorProc* monitor = nullptr, const DString* unused_option = nullptr);
    // Upload of a file as a multipart form after the fields ("a=1&b=2"); the file is streamed.
    bool Sube_Fichero_HTTP(const DString& url, const TStringNomFitx& file, const DString& fields,
                           const DString& file_field_name, DString& response, TStringErr& err,
                           TMonitorProc* monitor = nullptr, DString* unused_option = nullptr);

    int Get_Retry_Count() const { return retries_; }
    bool Last_Attempt_Failed() const { return last_failed_; }

    // The multipart body around the file's bytes: head + file bytes + tail.
    static std::string Multipart_Head(const DString& fields, const DString& file_field_name,
                                      const DString& file_name);
    static std::string Multipart_Tail();
    static const char* const kBoundary; // "MULTI-PARTS-FORM-DATA-BOUNDARY"

    // Progress text of a transfer: "512.00 Kb/10.00 Mb" (or the catalogue's formats).
    static DString Texto_Progreso(int64_t position, int64_t total);
    // What the log may say about an address: scheme, host and path, never the query.
    static DString Url_Para_Log(const DString& url);

private:
    struct TReceptor;
    bool Modo_Memoria(const DString& url, DString& text, TStringErr& err, TMonitorProc* monitor,
                      DString* suggested_name, DString* content_type, const DString* headers);
    bool Modo_Fichero(const DString& url, const TStringNomFitx& target, TStringErr& err,
                      TMonitorProc* monitor, DString* suggested_name, DString* content_type,
                      const DString* headers);
    bool Modo_Reanudable(const DString& url, const TStringNomFitx& target, TStringErr& err,
                         TMonitorProc* monitor, DString* suggested_name, DString* content_type,
                         int64_t expected_size, const DString* headers);
    bool Envia_Formulario(const DString& url, THttpTransfer& http, const char* funcion, DString& response,
                          TStringErr& err, TMonitorProc* monitor);
    void Prepara(THttpTransfer& http, const DString& url, const DString* headers) const;

    bool resume_ = false;
    int retries_ = 0;
    bool last_failed_ = false;
    THttpLimits limits_;
};

// A whole transfer described as data (background queue, statistics client).
struct TDownloadData {
    DString url;
    DString response;
    DString unused_a; // given to the TInternetITV constructor, which ignores them
    DString unused_b;
    DString body;            // POST body, or the form fields of an upload ("a=1&b=2")
    DString file_field_name; // form name of the uploaded file
    DString content_type;    // out: content type of a downloaded file
    DString unused_c;
    DString suggested_name;    // out: file name suggested by the server
    TStringNomFitx local_file; // download target or upload source; empty for memory requests
    DString unused_d;
    bool download = true; // true: GET; false: POST or upload
    bool second_flag = true;
};

class TFileDownloader {
public:
    // The whole transfer: a download goes to "<file>.temp" and replaces the file only when it is
    // complete; an answer starting "ERROR=" is a refusal (its rest becomes the reason, logged).
    // err is not filled: the result alone tells.
    static bool Download(TDownloadData& data, TStringErr& err, TMonitorProc* monitor);
    // One transfer chosen from the record: GET into the file or memory, upload or POST.
    static bool DownloadData(TDownloadData& data, TStringErr& err, TMonitorProc* monitor);
    // Deletes the file when it exists; true when it no longer exists.
    static bool DeleteOriginalFile(const TStringNomFitx& name);
};

// Same as TFileDownloader::DownloadData (the background queue's work function).
bool FuncDownloadData(TDownloadData& data, TStringErr& err, TMonitorProc* monitor);

// Network availability probe.
class TInternetOSAL {
public:
    virtual ~TInternetOSAL() = default;
    // Base: "IsInternetAvailable NOT IMPLEMENTED for this platform" and false.
    virtual bool IsAvailable(TStringErr& err);
};

// The platform's probe: a default route exists.
class TInternetOSALMac : public TInternetOSAL {
public:
    bool IsAvailable(TStringErr& err) override;
};

class TInternetOSALBuilder {
public:
    static TInternetOSAL* Build();
};

class TInternetCheck {
public:
    TInternetCheck();
    virtual ~TInternetCheck();
    TInternetCheck(const TInternetCheck&) = delete;
    TInternetCheck& operator=(const TInternetCheck&) = delete;
    // False with type 2 ("No Internet Available") and the probe's text as detail when offline.
    virtual bool IsAvailable(TStringErr& err);

private:
    TInternetOSAL* probe_;
};

bool IsInternetAvailable(TStringErr& err);
