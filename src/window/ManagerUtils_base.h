// TManagerUtils_base: the widget-free part of the utilities object that the main frame owns for
// the whole run. It keeps the server session (user, session id, token, language, product list and
// user information), the two application paths of the version check, and the progress monitor of
// the work that runs off the window thread, through which that work is cancelled.
//
// Threads: the session is written by the login worker while it runs and read by the window thread
// only after that worker has been joined. MonitorCancel may be called from any thread.
#pragma once

#include "foundation/DString.h"
#include "foundation/Monitor.h"
#include "foundation/NomFitx.h"
#include "foundation/StringErr.h"
#include "transfer/ManagerComm.h"

#include <memory>

class TManagerUtils_base {
public:
    // width: the window's width; language: the interface language (58).
    TManagerUtils_base(int width = 650, int language = 58);
    virtual ~TManagerUtils_base();
    TManagerUtils_base(const TManagerUtils_base&) = delete;
    TManagerUtils_base& operator=(const TManagerUtils_base&) = delete;

    // Hands the communication object (not owned) to the session.
    void InitGlobals(TManagerComm* comm);
    TManagerComm* ManagerComm() const { return sesion.managerComm; }

    // Any language given by the web shop becomes "en", code 58.
    void SetIdioma(const CDString& idioma);
    int GetLanguageCode() const { return language_code_; }
    const DString& GetLanguageText() const { return language_text_; }

    // The product list request with its one retry (TServerSession::GetProducts).
    bool GetProducts(TStringErr& err, TMonitorProc* monitor);
    const VectorS<TProduct>& Products() const { return sesion.products; }

    // The monitor of the work running off the window thread (never null).
    TMonitorProc* CurrentMonitor() const { return monitor_.get(); }
    // Replaces the monitor by a fresh one; only while no work uses it.
    void NewMonitor();
    // Requests the running work to stop (Cancelar on the current monitor).
    void MonitorCancel();

    // The application version as "1.4.9".
    static void Format_Version(DString& out);
    // Whether a newer version of the application waits (new_version_text set; never in this product).
    bool IsNewVersion() const;

    // The per-user settings store (file "Downloader/Downloader-CustomInfo.plist"); key_path is
    // ignored, value names are unique in the whole store. GetValue is false when the store cannot
    // be read; SetValue fails silently (before the store exists, writes are lost).
    static bool GetValue(DString& value, const char* name, const char* key_path = "SOFTWARE\\Downloader");
    static void SetValue(const CDString& value, const char* name,
                         const char* key_path = "SOFTWARE\\Downloader");

    TServerSession sesion;
    DString user_email2; // the two further user fields the login fills with the e-mail
    DString user_email3;
    DString new_version_text;
    TStringNomFitx path_app_old; // the earlier application's executable
    TStringNomFitx path_app_new; // this application's executable
    int width = 650;
    int num_retries = 0; // download retries of the run

private:
    std::unique_ptr<TMonitorProc> monitor_;
    int language_code_ = 58;
    DString language_text_ = "en";
};
