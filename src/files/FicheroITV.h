// TFicheroITV: the one file class. Every file the program reads or writes goes through it.
//
// Where the bytes live is hidden behind a backend (TFicheroITV_Base): a local file
// (TFicheroITV_stdio) unless a file system registered by a higher layer claims the name (archive
// members 'a.zip!/x', files on the WiFi device "FTP1:..."). On top of the backend the class adds the
// open-mode bits, the safe replacement through a ".$$$" temporary committed atomically on close,
// ".bak" copies, byte-order marks and code pages, line and token readers, value streaming and a
// progress- and cancel-aware bulk copy.
//
// Errors: a false result plus a message in the TStringErr given (which may be null); nothing is
// logged or shown here. Programming errors (invalid mode bits, token reads on a file not opened for
// text reading, a memory file asked to grow a buffer it does not own) throw a DString with the text.
// Threads: one object is used by one thread at a time; the file-system registry is thread-safe.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"

#include <cstdint>
#include <cstdio>

class TStringErr;
class TMonitorProc;
class TTemps;
class TDifTemps;
class TListadoFitxITV;

// Open-mode bits (values as passed to TFicheroITV::Abre).
enum : int {
    FITX_LEE = 0x1,          // read
    FITX_ESCRIBE = 0x2,      // write: create or truncate
    FITX_ANYADE = 0x4,       // append (creates a missing file)
    FITX_TEXTO = 0x8,        // values as text tokens; byte-order marks apply
    FITX_BINARIO = 0x10,     // values in their in-memory little-endian form
    FITX_BAK_EXT = 0x20,     // before writing, copy an existing file to name with extension "bak"
    FITX_UPDATE = 0x80,      // "+": read and write the same file
    FITX_TEMPORAL = 0x100,   // write to name + ".$$$", which replaces name on a successful close
    FITX_BAK_ANYADE = 0x200, // before writing, copy an existing file to name + ".bak"
    FITX_SIN_BOM = 0x4000,   // no byte-order mark when a text file is created
};

// Code pages a text file can carry.
enum : int {
    CP_DESCONOCIDO = -1, // not learnt yet (closed, or not a text open)
    CP_LATIN1 = 1,       // a text file without byte-order mark: single-byte Western text
    CP_UTF16 = 65000,
    CP_UTF8 = 65001,
};

// A backend: where the bytes of one open file live. Owned by the TFicheroITV that opened it and
// used by that object's thread only. Lengths, positions and sizes are 64-bit byte counts.
class TFicheroITV_Base {
public:
    virtual ~TFicheroITV_Base() = default;
    // Opens name; a backend may adjust mode. On failure err (may be null) holds the reason.
    virtual bool Abre(const TStringNomFitx& name, int& mode, TStringErr* err, TMonitorProc* monitor) = 0;
    // Closes; false when data could not be written (err names the file and the reason).
    virtual bool Cierra(TStringErr* err) = 0;
    virtual bool Abierto() = 0;
    // count receives the bytes read; true only when all `length` bytes were read.
    virtual bool LeeBytes(void* buffer, int64_t length, int64_t& count) = 0;
    // True only when all bytes were written.
    virtual bool GuardaBytes(const void* data, int64_t length) = 0;
    virtual bool Posicionate64(int64_t position) = 0;
    virtual bool eof() = 0;
    virtual int64_t PosActual64() = 0;
    virtual int64_t FileSize64() = 0;
    // Hands buffered writes to the system; Sincroniza also waits until they are on the device.
    virtual bool Flush() { return true; }
    virtual bool Sincroniza() { return Flush(); }
    virtual void* GetFilePointer() { return nullptr; }
    virtual bool SetEndOfFile() { return true; }
    virtual bool AceptasRandomPos() { return true; }
};

// A file system served by a higher layer for names of its own. Register it once at start-up with
// TFicheroITV::RegistraSistema (an explicit call: nothing registers itself from a static library).
// The file layer and the file utilities give a name to the first registered system whose Smell
// claims it; every other name is a local path. A system whose service comes and goes (the WiFi
// connection) answers Smell accordingly rather than unregistering. Registered objects must live
// until they are unregistered and are called from any thread.
class TSistemaFitxITV {
public:
    virtual ~TSistemaFitxITV() = default;
    // Claims name for opening with the open-mode bits `mode`, or for a file utility when mode is 0.
    virtual bool Smell(const TStringNomFitx& name, int mode) = 0;
    // A new, closed backend for a claimed name; the caller owns it.
    virtual TFicheroITV_Base* NuevoBackend(const TStringNomFitx& name) = 0;
    // Whether claimed names may be written through a ".$$$" temporary: true only for names the
    // operating system can rename() (the temporary is opened through this system and renamed over
    // the name on commit). False (the default): bit 0x100 is dropped at open.
    virtual bool AdmiteTemporal() { return false; }
    // True for a device reached over the network (TFitxUtils::IsConnectableDevice).
    virtual bool EsConectable() { return false; }

    // File utilities for claimed names (mode 0). A connectable system answers every operation for
    // its names; any other (archive members) is asked only whether a file or folder exists (a "no"
    // falls back to the local path) and for listings, and sizes come through its backend. The
    // defaults answer as for a missing local file.
    virtual bool Verifica_Existencia_Archivo(const TStringNomFitx& name) { return false; }
    virtual bool Verifica_Existencia_Carpeta(const TStringNomFitx& name) { return false; }
    virtual int64_t FileSize(const TStringNomFitx& name) { return 0; }
    virtual bool Delete_File(const TStringNomFitx& name, TStringErr& err) { return false; }
    virtual bool Crea_Carpeta(const TStringNomFitx& name, TStringErr& err) { return false; }
    virtual bool Remove_Directory(const TStringNomFitx& name) { return false; }
    virtual bool Allow_Disk_Space(const TStringNomFitx& name, int64_t kb) { return false; }
    // The modification time as UTC.
    virtual bool Obten_Fecha(const TStringNomFitx& name, TTemps& fecha) { return false; }
    // Copies the local file `local` to the claimed name `name` (upload).
    virtual bool Envia_Archivo(const TStringNomFitx& local, const TStringNomFitx& name, TStringErr& err,
                               TMonitorProc* monitor) {
        return false;
    }
    // Copies the claimed name `name` to the local file `local` (download).
    virtual bool Descarga_Archivo(const TStringNomFitx& name, const TStringNomFitx& local, TStringErr& err,
                                  TMonitorProc* monitor) {
        return false;
    }
    // A listing for the folder iterator of `pattern` (the path given to TIteradorFitx); null when
    // the folder cannot be listed. The caller owns it.
    virtual TListadoFitxITV* NuevoListado(const TStringNomFitx& pattern) { return nullptr; }
};

// One folder listing in progress, made by a TSistemaFitxITV for TIteradorFitx.
class TListadoFitxITV {
public:
    virtual ~TListadoFitxITV() = default;
    // The next entry: full name, folder flag and size (-1 when unknown). False at the end.
    virtual bool Siguiente(TStringNomFitx& nombre, bool& carpeta, int64_t& size) = 0;
    // True when every entry passes the iterator's filter as it is (archive members); false applies
    // the filter of local folders ("." and "..", hidden files).
    virtual bool SinFiltro() { return false; }
};

// A local file: one C stream over open(2). Writes through a temporary (bit 0x100) create the file
// exclusively, never through a symbolic link. The first failed write, flush or sync is remembered
// and reported by Cierra.
class TFicheroITV_stdio : public TFicheroITV_Base {
public:
    ~TFicheroITV_stdio() override;
    bool Abre(const TStringNomFitx& name, int& mode, TStringErr* err, TMonitorProc* monitor) override;
    bool Cierra(TStringErr* err) override;
    bool Abierto() override { return f_ != nullptr; }
    bool LeeBytes(void* buffer, int64_t length, int64_t& count) override;
    bool GuardaBytes(const void* data, int64_t length) override;
    bool Posicionate64(int64_t position) override;
    bool eof() override;
    int64_t PosActual64() override;
    int64_t FileSize64() override;
    bool Flush() override;
    bool Sincroniza() override;
    void* GetFilePointer() override { return f_; }
    bool SetEndOfFile() override;

    // The C stream mode for the open-mode bits ("rb", "wb", "ab", "r+b", ...); throws
    // "Error en TFicheroITV::Abre" for an invalid combination of the low three bits.
    static const char* Calcula_str_stdio(int mode);

private:
    void Antes(bool writing); // switches the stream between reading and writing
    void Fallo(int e);        // remembers the first write failure

    FILE* f_ = nullptr;
    TStringNomFitx nombre_; // the name to report (without ".$$$")
    int errno_ = 0;
    int ultima_ = 0; // 1 read, 2 write
};

class TFicheroITV {
public:
    TFicheroITV();
    // Closes with commit (CierraEx (true)); a file whose writes failed is never committed.
    virtual ~TFicheroITV();
    TFicheroITV(const TFicheroITV&) = delete;
    TFicheroITV& operator=(const TFicheroITV&) = delete;

    // Opens name (a "file:///" URL is turned into a path) with the open-mode bits. Fails when this
    // object is already open (the open file is not touched), when writing to an existing read-only
    // file, or when the backend cannot open.
    bool Abre(const TStringNomFitx& name, int mode, TStringErr* err = nullptr,
              TMonitorProc* monitor = nullptr);
    // Closes. Written through a temporary: with commit, and only when every write and the close
    // succeeded, the temporary is synced and renamed over the file (atomic: the file is either the
    // old or the complete new one); otherwise the temporary is deleted and the file is untouched.
    // False (err names the file) when data could not be written or committed. Harmless when closed.
    virtual bool CierraEx(bool commit = true, TStringErr* err = nullptr);
    bool Cierra(TStringErr* err = nullptr) { return CierraEx(true, err); }

    virtual bool Abierto();
    // Raw write and read; true only when the whole length was transferred; count gets the bytes
    // read. With a monitor and a chunk size the transfer goes in chunks, advancing the monitor and
    // stopping (false) when it is cancelled.
    virtual bool PonTokenBin(const void* data, int64_t length, TMonitorProc* monitor = nullptr,
                             int64_t chunk = 0);
    virtual bool LeeTokenBin(void* buffer, int64_t length, TMonitorProc* monitor = nullptr, int64_t chunk = 0,
                             int64_t* count = nullptr);

    // One byte from the file (0 when none can be read); fgetc first pops the push-back stack.
    virtual char fgetc_dir();
    char fgetc();
    void Unget(char c);
    void Unget(const char* s); // read back in its own order

    virtual bool Posicionate64(int64_t position);
    virtual bool Posicionate(int position) { return Posicionate64(position); }
    bool PosicionateFinal();
    virtual int64_t PosActual64(); // minus the pushed-back characters
    virtual int PosActual();
    virtual int64_t FileSize64(); // 0 when closed
    virtual int FileSize();       // 32-bit clamp; 0 below 1
    virtual bool eof();           // true when closed, or at the end with nothing pushed back
    bool Flush();
    bool SetEndOfFile();

    // From the current position to the end: number of bytes read, 0 when fewer arrived than the
    // size promised. With convert the file's code page is turned into UTF-8.
    int64_t Lee_Todo_Str(DString& text, bool convert);
    int64_t Lee_Todo_Str(DStringB& data);

    // Configuration-style line: skips empty and ";" comment lines, "VOID" reads as empty; returns
    // the 0-based number of the line read. At most max - 1 bytes are kept (19999 when max < 1).
    int get_linea(DString& line, int max = 0);
    // Next line up to CR or LF, trimmed; false at the end of the file with nothing read.
    bool get_linea_CR(DString& line);
    // Next token ended by a separator (SetSeparadores), NUL, CR or LF. Throws "Error en
    // get_dato_texto" unless opened for text reading. False when the file ended before any byte.
    bool get_dato_texto(DString& token);

    // Value streaming: text tokens in text mode, little-endian in binary mode; `^` reads with the
    // read bit, else writes with the write bit. Failures are seen through eof() and sizes.
    TFicheroITV& operator<<(char v);
    TFicheroITV& operator<<(unsigned char v);
    TFicheroITV& operator<<(bool v);
    TFicheroITV& operator<<(short v);
    TFicheroITV& operator<<(unsigned short v);
    TFicheroITV& operator<<(int v);
    TFicheroITV& operator<<(unsigned int v);
    TFicheroITV& operator<<(long v);
    TFicheroITV& operator<<(unsigned long v);
    TFicheroITV& operator<<(long long v);
    TFicheroITV& operator<<(float v);
    TFicheroITV& operator<<(double v);
    TFicheroITV& operator<<(const char* v);
    TFicheroITV& operator<<(const CDString& v) { return *this << v.c_str(); }
    TFicheroITV& operator<<(const TTemps& v);
    TFicheroITV& operator<<(const TDifTemps& v);
    TFicheroITV& operator>>(char& v);
    TFicheroITV& operator>>(unsigned char& v);
    TFicheroITV& operator>>(bool& v);
    TFicheroITV& operator>>(short& v);
    TFicheroITV& operator>>(unsigned short& v);
    TFicheroITV& operator>>(int& v);
    TFicheroITV& operator>>(unsigned int& v);
    TFicheroITV& operator>>(long& v);
    TFicheroITV& operator>>(unsigned long& v);
    TFicheroITV& operator>>(long long& v);
    TFicheroITV& operator>>(float& v);
    TFicheroITV& operator>>(double& v);
    TFicheroITV& operator>>(DString& v);
    TFicheroITV& operator>>(TTemps& v);
    TFicheroITV& operator>>(TDifTemps& v);
    template <class T> TFicheroITV& operator^(T& v) {
        if (modo_ & FITX_LEE)
            *this >> v;
        else if (modo_ & FITX_ESCRIBE)
            *this << v;
        return *this;
    }

    // Copies count bytes from this file's position to the destination's position. Fails with
    // "Error opening files in CopyFileData()", "Error in CopyFileData()" followed by the file that
    // could not be read or written and why, or "Operation canceled".
    bool CopyFileData(TFicheroITV& destination, int64_t count, TStringErr& err, TMonitorProc* monitor);

    // Backup copy of an existing file: name + ".bak" (append) or the name with extension "bak".
    // A failed copy is ignored.
    static void Crea_Bak(const TStringNomFitx& name, bool append);
    // "Error writing %s file." / "Error: %s File not found", then " " + detail, then
    // " File is ReadOnly" (type 4) for a read-only file. Nothing without err.
    static void ComposeStringError(TStringErr* err, bool writing, const char* name, const char* detail);
    // The whole text file (mode 9) as UTF-8 without its byte-order mark.
    static bool LeeTodoAString(const TStringNomFitx& name, DString& text, TStringErr* err);
    // Replaces the file with text, UTF-8 with a byte-order mark, through a temporary.
    static bool GuardaTodoAString(const TStringNomFitx& name, const CDString& text, TStringErr* err);

    // File systems of higher layers (see TSistemaFitxITV). Not owned.
    static void RegistraSistema(TSistemaFitxITV* sistema);
    static void DesregistraSistema(TSistemaFitxITV* sistema);
    // The registered system that claims name for mode (0: a file utility), or null.
    static TSistemaFitxITV* BuscaSistema(const TStringNomFitx& name, int mode);

    const TStringNomFitx& Nombre() const { return nombre_; }
    int Modo() const { return modo_; }
    int CodePage() const { return codepage_; }
    int NumLineas() const { return lineas_; }
    bool ViaTemporal() const { return via_temporal_; }
    // True once a write failed since the open (the file will not be committed).
    bool ErrorEscritura() const { return error_escritura_; }
    void SetSeparadorToken(char c) { separador_token_ = c; }
    void SetSeparadores(const char* set) { separadores_ = set; }
    void SetAnchoLongitud(int bytes) { ancho_longitud_ = bytes; } // 1, 2 or 4

protected:
    bool LeeChar(char& c); // false at the end (nothing read)
    void Lee_BOM();
    void Guarda_BOM(int codepage);
    void TransformStrCodepage(DString& text);
    bool PonToken(const char* text); // bytes, then the token separator when set
    bool LeeBinario(void* v, int bytes);
    void ResetEstado();

    char separador_token_ = 0;
    int ancho_longitud_ = 2;
    int modo_ = 0;
    int codepage_ = CP_DESCONOCIDO;
    DString separadores_ = " \t\n";
    DString pushback_;
    int lineas_ = 0;
    TStringNomFitx nombre_;
    TFicheroITV_Base* backend_ = nullptr;
    char anterior_ = 0;
    bool via_temporal_ = false;
    bool error_escritura_ = false;
    int errno_escritura_ = 0; // of the first failed write, when the backend set one
    bool utf16_be_ = false;
};

// A file kept in memory with the same interface (JSON printing and others). Its name is the fixed
// text "TFicheroITVdatos"; it has no backend, so Abierto() is false.
class TFicheroITVdatos : public TFicheroITV {
public:
    // An owned, empty buffer of capacity 1000 that grows by `reserve` beyond each need.
    explicit TFicheroITVdatos(int mode = FITX_ESCRIBE | FITX_BINARIO, int64_t reserve = 0);
    // A read view over the caller's bytes (not owned, cannot grow).
    TFicheroITVdatos(int mode, const void* data, int64_t length);
    ~TFicheroITVdatos() override;

    void Set_Datos_Lectura(const void* data, int64_t length, bool owns);
    // The buffer now belongs to the caller (free it with delete[]); the object forgets it.
    char* Cierra_Retornando_Ptr(int64_t& length);
    // The buffer and its length; the object is emptied but keeps the buffer.
    char* Vacia_Retornando_Ptr(int64_t& length);
    void Vacia() { len_ = pos_ = 0; }
    char* Ptr(int64_t n);    // empties, ensures capacity n
    char* PtrPos(int64_t n); // ensures capacity position + n; the address at the position
    char* cPtr() { return buf_ + pos_; }
    int64_t Len() const { return len_; }
    int64_t LenQueda() const { return len_ - pos_; }
    void SetTamanyo(int64_t n) { len_ = pos_ = n; }
    void IncreTamanyo(int64_t n) { len_ = pos_ = pos_ + n; }
    void IncrePosicion(int64_t n) { pos_ = pos_ + n < len_ ? pos_ + n : len_; }
    // Appends length bytes of other from position (length < 0: to its end) at this position.
    void Lee(TFicheroITVdatos& other, int64_t position, int64_t length);

    bool PonTokenBin(const void* data, int64_t length, TMonitorProc* monitor = nullptr,
                     int64_t chunk = 0) override;
    bool LeeTokenBin(void* buffer, int64_t length, TMonitorProc* monitor = nullptr, int64_t chunk = 0,
                     int64_t* count = nullptr) override;
    char fgetc_dir() override;
    bool Posicionate64(int64_t position) override;
    bool Posicionate(int position) override { return Posicionate64(position); }
    int64_t PosActual64() override { return pos_ - pushback_.Length(); }
    int PosActual() override { return static_cast<int>(PosActual64()); }
    int64_t FileSize64() override { return len_; }
    int FileSize() override { return static_cast<int>(len_); }
    bool eof() override { return pushback_.IsEmpty() && pos_ > len_; }

protected:
    void ActuLenMax(int64_t n);

    int64_t cap_ = 0;
    int64_t len_ = 0;
    int64_t pos_ = 0;
    char* buf_ = nullptr;
    bool owns_ = false;
    int64_t reserve_ = 0;
};
