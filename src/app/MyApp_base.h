// MyApp_base: the widget-free part of the application object. It runs the start-up (folders, the
// log and its opening lines, the shared folder), receives the install request (the link the web
// shop opened), reads "downloader.cfg", writes and selects the message catalogue, parses the
// request, keeps the params file "params.bkp" and cleans up at exit.
//
// Threads: everything here runs on the main thread; the request arrives there too.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/StringErr.h"

#include <functional>

class MyFrame_base;

extern const char* const InstallWizard_App;   // "Downloader2": the application's folder name
extern const char* const InstallWizard_Title; // "Downloader": window title and shared folder
extern const char* const QUILLMAP_APP_PARAMS; // "params.bkp"

// The shared folder "Downloader" of log and configuration (no final '/').
DString SharedFolder();

// Reads "downloader.cfg" of the shared folder and applies it; a missing or unreadable file keeps
// the defaults. ReadConfigurationText applies a text (lines split at CR and LF, trimmed, empty
// ones skipped; exact-case keys, a later line wins):
//   WebServerUrl=     the web service host (server_www_com)
//   IntegrityType=    the integrity level (integrity_type)
//   StatsServerUrl=   the statistics host (server_stats_com)
//   SupportServerUrl= the support host (server_support_com)
//   CAFile=           an absolute PEM file of authorities trusted besides the system's
//   VolumesRoot=      an absolute folder whose subfolders are the volumes
void ReadConfigurationFile();
void ReadConfigurationText(const CDString& text);
void TraceCurrentWebServerUrl();
void TraceCurrentIntegrityType();

// The modal message box over the application's top window. style: low four bits choose the
// buttons (1 OK+Cancel, 2 OK, 3 Yes+No+Cancel, 4 Yes+No, other OK); bits 0x70 the icon (0x10
// error, 0x20 question, 0x40 information). Answer: 6 Yes, 1 OK, 7 No, 2 Cancel, 0 otherwise.
int Application_MessageBox(const CDString& text, const CDString& caption, int style);
// Who shows the box: the application installs the toolkit's box; tests install their answers.
using TMessageBoxFn = std::function<int(const DString& text, const DString& caption, int style)>;
// Returns the handler installed before. Without a handler the answer is 0.
TMessageBoxFn SetApplicationMessageBox(TMessageBoxFn fn);
// The toolkit's style bits for a style code, and the answer code of a toolkit answer.
long MessageBoxToolkitStyle(int style);
int MessageBoxAnswer(int toolkit_answer);

class MyApp_base {
public:
    MyApp_base();
    virtual ~MyApp_base();
    MyApp_base(const MyApp_base&) = delete;
    MyApp_base& operator=(const MyApp_base&) = delete;

    // Start-up steps before the toolkit: folders, log file, opening lines, the shared folder.
    void Initialize_base();
    // The first request of the process builds the main frame; later ones are logged and
    // ignored (false). request: the link as received.
    bool ContinueOnInit(const DString& request);
    // Configuration, catalogue and language for the first request.
    void OnInitInitialize();
    // request in: the link; out: the install parameters. True when parameters were found; a
    // missing request sets err to the no-parameters text.
    virtual bool GetInstallParams(DString& request, TStringErr& err);

    int GetLanguage();
    void SelectLanguage();
    void SetLanguage(int code);
    // Writes the built-in catalogue into the locale folder.
    bool MoveLocaleToTempFolder();

    bool SaveParams(TStringErr& err);
    bool ReadParams(TStringErr& err);
    bool DeleteParams(TStringErr& err);
    // "params.bkp" in the application data folder.
    TStringNomFitx ParamsFile() const;

    // Clean-up at exit (the locale step aside).
    void Exit_base();

    // The main frame (not owned; cleared by the frame when it goes).
    MyFrame_base* m_frame = nullptr;
    bool m_params_received = false;
    TStringNomFitx m_locale_path;
    DString m_install_params;
    DString m_raw_request;
    TStringErr_i m_startup_error;

    // Requests received by this process (process-wide).
    static int RequestCount();
    static void ResetRequestCountForTests();

protected:
    // Builds, centres and shows the main frame; false when it could not be made.
    virtual bool CreaFrame(const DString& install_params, bool no_params, int language) { return false; }
    // Registers the toolkit's image handlers.
    virtual void RegisterImageHandlers() {}
    // The earlier application's executable, for the replacement step (empty: none).
    virtual TStringNomFitx EarlierApplicationPath() const;
};
