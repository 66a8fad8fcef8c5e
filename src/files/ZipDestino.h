// Writing extracted archive members below one destination folder, and nowhere else.
//
// Every folder below the destination is entered with openat(O_NOFOLLOW): a symbolic link met on
// the way (left by anyone) is never followed, and a link in place of a member's file is replaced
// by the file. Relative paths given here must already be clean (ZipNames.h). The destination
// folder itself may be reached through links. One object per extraction, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One member file being written: every write and the close are checked.
class TZipSalida {
public:
    TZipSalida() = default;
    ~TZipSalida(); // closes, unchecked, when still open
    TZipSalida(const TZipSalida&) = delete;
    TZipSalida& operator=(const TZipSalida&) = delete;

    bool Abierto() const { return fd_ >= 0; }
    // Writes all n bytes; false (with Error()) when any could not be written.
    bool Escribe(const char* data, size_t n);
    // Closes; false when the system reports a failure (or the file was not open).
    bool Cierra();
    int64_t Escritos() const { return escritos_; }
    int Error() const { return errno_; }

private:
    friend class TZipDestino;
    int fd_ = -1;
    int64_t escritos_ = 0;
    int errno_ = 0;
};

class TZipDestino {
public:
    TZipDestino() = default;
    ~TZipDestino();
    TZipDestino(const TZipDestino&) = delete;
    TZipDestino& operator=(const TZipDestino&) = delete;

    // Opens the destination folder, which must exist (the caller creates it, so that a volume
    // that is gone is never recreated on the local disk).
    bool Abre(const std::string& folder);
    // Makes the folder rel and its parents (mode 0700) below the destination.
    bool Crea_Carpetas(const std::string& rel);
    // Creates the file rel, replacing a file of that name; its folders are made when missing.
    bool Crea_Archivo(const std::string& rel, TZipSalida& out);
    // Removes the file rel (a partial member); true when it is gone.
    bool Borra_Archivo(const std::string& rel);
    // errno of the last failure.
    int Error() const { return errno_; }

private:
    // The folder rel (empty: the destination), opened; -1 on failure. The result stays owned here.
    int Carpeta(const std::string& rel, bool crear);
    void Olvida_Cache();

    int raiz_ = -1;
    int cache_fd_ = -1; // the folder last opened below the destination
    std::string cache_rel_;
    int errno_ = 0;
};
