// One run per user. Browsers start a new process for every click on an install link: the first
// process owns the run (an exclusive lock on "downloader2.lock"); a later one hands its link over
// the owner's Unix socket "downloader2.sock" and exits, so two processes never share the log, the
// settings store or the download folder. Both files live in a private per-user folder:
// $XDG_RUNTIME_DIR when it is absolute, ours and 0700, else <cache>/Downloader2/run (made 0700).
//
// The owner's listener runs on its own thread and gives each link received (at most kMaxLink
// bytes, only from a peer of the same user) to the callback on that thread.
#pragma once

#include "foundation/Threads.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class TInstanciaUnica {
public:
    enum EResultado {
        kOwner,      // this process owns the run
        kHandedOver, // another process owns it and has received the link
        kFailed,     // another process owns it and could not be reached
    };
    enum : int { kMaxLink = 65536 };

    // folder: where the lock and the socket live; empty for the default folder.
    explicit TInstanciaUnica(const std::string& folder = std::string());
    ~TInstanciaUnica(); // stops the listener; the owner removes its socket
    TInstanciaUnica(const TInstanciaUnica&) = delete;
    TInstanciaUnica& operator=(const TInstanciaUnica&) = delete;

    // Takes the run, or hands link to the process that has it (waiting up to connect_ms for its
    // socket to appear).
    EResultado Claim(const std::string& link, int connect_ms = 5000);
    // Owner only: starts the listener thread. False when the socket could not be made.
    bool Listen(std::function<void(const std::string& link)> on_link);
    // Stops and joins the listener (also done by the destructor).
    void Stop();

    const std::string& Folder() const { return folder_; }
    std::string SocketPath() const { return folder_ + "/downloader2.sock"; }
    std::string LockPath() const { return folder_ + "/downloader2.lock"; }
    // Why the last Claim or Listen failed.
    const std::string& Error() const { return error_; }

    static std::string DefaultFolder();

private:
    class TEscucha;
    bool HandOver(const std::string& link, int connect_ms);

    std::string folder_;
    std::string error_;
    int lock_fd_ = -1;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    bool owner_ = false;
    std::unique_ptr<TEscucha> escucha_;
};
