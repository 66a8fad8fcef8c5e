// MyFrame_base: the widget-free part of the main frame. It owns the communication object and the
// utilities object for the whole run, records whether this run is the first of a new version,
// turns the install parameters into a logged-in user with a product list, and moves the devices
// window into its first states (or its error state).
//
// The login and the product request run on a worker thread so that the window keeps painting
// while they wait on the network; the frame's 100 ms beat (Beat) sees the worker end and carries
// on on the window thread. Closing cancels that work and joins it before anything it uses is
// destroyed.
//
// Threads: every member runs on the window thread except Login and AutoLogin, which run on the
// login worker (or on the caller's thread in tests).
#pragma once

#include "foundation/DString.h"
#include "foundation/StringErr.h"
#include "window/ManagerDevices_base.h"

#include <functional>
#include <memory>

class MyApp_base;
class TManagerComm;
class TManagerUtils_base;

// What the settings "Version" and "NewInstallation" say about this run.
struct TVersionCheck {
    bool update = false;           // the first run of this version
    bool new_installation = false; // an installer has just put the application in place
};
// stored_version and stored_new_installation: the values of the settings store ("" when absent).
TVersionCheck DetectaVersion(const CDString& stored_version, const CDString& stored_new_installation,
                             const CDString& running_version);

class MyFrame_base : public TManagerDevicesHost {
public:
    explicit MyFrame_base(MyApp_base* app);
    // Joins the login worker, writes the end of the log and deletes the communication and utilities
    // objects. The devices window belongs to whoever made it (the toolkit frame deletes its panel).
    ~MyFrame_base() override;
    MyFrame_base(const MyFrame_base&) = delete;
    MyFrame_base& operator=(const MyFrame_base&) = delete;

    // Creates the utilities and communication objects and hands the second to the first.
    // download_folder: empty for the default.
    void CreaUtilidades(int width, int language, const TStringNomFitx& download_folder = TStringNomFitx());
    // Links the devices window (not owned) to this frame and to the session's product list.
    void SetDevices(TManagerDevices_base* devices);
    // The two application paths (earlier and this application), kept by the utilities object.
    void CalculaPathsApp();
    // Operating-system values, version and new-installation detection, version lines of the log.
    void InitVersion();
    // Sends the devices window to its error state (folder or start-up error), or posts the login.
    void InitCall(const DString& install_params, bool no_params);

    // The devices window's STAT_STEP2_INIT: starts the login and product request.
    void InitCallStep2(const DString& install_params, bool no_params, TStringErr& err) override;
    // Quitting from the final screen.
    void QuitApplication() override {}

    // AutoLogin, and after a failure a wait of 7000 ms and one more try. With no_params a final
    // failure also says " No Params".
    bool Login(const DString& install_params, bool no_params, TStringErr& err);
    // Deciphers the parameters (Base64, Twofish, zlib, JSON), stores the user's data in the
    // utilities object and runs the login check. Failures record 7310704 (empty), 7310701 (not
    // decipherable), 7310702 (not inflatable), 7310703 (not a JSON object) or 73108 ("loginOK" not
    // true) in the last-error record, with the catalogue text in err.
    bool AutoLogin(const DString& install_params, TStringErr& err);

    // The 100 ms beat: runs the posted calls and carries on after the login worker has ended.
    void Beat();
    bool Step2Running() const;
    // Waits for the login worker and carries on at once (tests).
    void FinishStep2Now();

    // The close question: when a download or installation runs, asks whether to stop it; false
    // when the user said No. Otherwise the running work is cancelled and true is returned.
    bool ConfirmClose();
    // Cancels the running work and waits for the login worker.
    void CancelAndJoin();
    // The run's summary for statistics and the log (at destruction).
    void EndOfRunStatistics();

    // The title for a server: always "Downloader".
    static DString RefreshTitle(const CDString& server);

    // The wait before the login's second try (milliseconds). Default: sleeps in short slices
    // and returns early once the work is cancelled.
    std::function<void(int ms)> espera;
    // The login work runs on a worker thread (false: on the calling thread, for tests).
    bool step2_en_hilo = true;

    TManagerDevices_base* m_devices = nullptr;
    TManagerComm* m_comm = nullptr;
    TManagerUtils_base* m_utils = nullptr;
    MyApp_base* m_app = nullptr;
    DString m_texto1, m_texto2, m_texto3;

protected:
    // Shows the window title.
    virtual void SetTitleText(const DString& title) {}

private:
    struct TStep2;
    void Step2_Trabajo(TStep2& job);
    void Step2_Fin();
    void Falla(TStringErr& err, const CDString& key, int code);

    std::unique_ptr<TStep2> step2_;
};
