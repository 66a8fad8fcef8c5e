// TManagerDevices_base: the widget-free part of the devices window. It holds the window's state
// machine (the states of Estados), the message text of the final screens and the four text lines
// each state shows; the toolkit panel TManagerDevices draws what this part decides.
//
// This build carries the login part of the machine: STAT_STEP2_INIT (the login data arrive from
// the main frame), STAT_INIT, STAT_SEARCH_DEVICES, STAT_UPDATE_DEVICES (the device scan is a hook
// that does nothing yet), STAT_ERROR and the final screens STAT_END and STAT_CANCELLED.
//
// Threads: everything here runs on the window thread; posted calls run from the main frame's
// 100 ms beat (foundation/PostExecute.h).
#pragma once

#include "foundation/DString.h"
#include "foundation/PostExecute.h"
#include "foundation/StringErr.h"
#include "foundation/Vectors.h"
#include "protocol/Product.h"

enum Estados : int {
    STAT_ERROR = -2,
    STAT_NADA = -1, // nothing to chain
    STAT_INIT = 0,
    STAT_SEARCH_DEVICES = 1,
    STAT_UPDATE_DEVICES = 2,
    STAT_SELECT_DEVICES = 3,
    STAT_CHECK_UNIT_TYPES_DEVICES = 4,
    STAT_CHECK_OPTIONAL_PRODUCTS = 5,
    STAT_CHECK_INSTALLED_FILES = 6,
    STAT_READY_TO_INSTALL = 7,
    STAT_START_INSTALL = 8,
    STAT_INSTALLING = 9,
    STAT_CANCELLED = 10,
    STAT_END = 11,
    STAT_STEP2_INIT = 13,
    STAT_CONNECTION_LOST = 14,
};

// What the devices window needs from the main frame, which registers itself (the frame lives in
// the application layer above this one).
class TManagerDevicesHost {
public:
    virtual ~TManagerDevicesHost() = default;
    // Login, product list, then the first states (or STAT_ERROR); window thread.
    virtual void InitCallStep2(const DString& install_params, bool no_params, TStringErr& err) = 0;
    // Quits the application (the large button of the final screens).
    virtual void QuitApplication() = 0;
};

// The login data handed over by doPostStep2Init, kept for a later retry.
struct TStep2Data {
    DString install_params;
    bool no_params = false;
    TStringErr_i error;
};

class TManagerDevices_base : public TBasePostExecute {
public:
    // Ids of the text lines.
    enum : int { kLineUpper = 0, kLineLower = 1, kLineCentre1 = 2, kLineCentre2 = 3, kNumLines = 4 };
    struct TLinea {
        bool shown = false;
        int id = 0;
        int y = 0;
        DString texto; // the text of id, computed when the state was painted
    };

    // Creates the per-user settings store when it does not exist yet.
    TManagerDevices_base();
    ~TManagerDevices_base() override;

    void SetHost(TManagerDevicesHost* host) { host_ = host; }
    // The session's product list (not owned), for the product summary text.
    void SetProducts(const VectorS<TProduct>* products) { products_ = products; }

    // Enters state (logging "SM = n"), shows it and performs its action; returns the state a
    // chaining caller enters next (STAT_NADA for none, STAT_ERROR for an unknown value).
    // data is read only by STAT_STEP2_INIT (a TStep2Data*).
    Estados State_Machine(int state, void* data = nullptr);
    // Keeps the login data and posts STAT_STEP2_INIT with them (runs at the next beat).
    void doPostStep2Init(const DString& install_params, bool no_params, const TStringErr& err);
    // Appends "\r\n" and text to the message text when text is not empty.
    void AddError(const CDString& text);
    // The text of a line id (the table of the window's texts).
    DString Strings(int id) const;

    Estados GetState() const { return state_; }
    bool IsInitialised() const { return initialised_; }
    const TLinea& Linea(int which) const { return lineas_[which]; }
    const TStep2Data& Step2Data() const { return step2_; }
    // The large button: shown flag and the catalogue key of its label.
    bool Button1Shown() const { return button1_shown_; }
    const DString& Button1Label() const { return button1_label_; }

    // The large button's work, posted by the click: quits on the final screens, else starts a
    // new device search.
    void OnButton_1_1(void* unused);

    DString message; // the last error or result, shown on the final screens
    // A failed session allows an automatic support report (set when the session starts).
    bool auto_report = true;

protected:
    // Creates the controls once (again with rebuild).
    virtual void InitAllForm(bool rebuild) {}
    // Repaints the lines and buttons from the state kept here.
    virtual void Repinta() {}
    virtual void SetBusyCursor(bool busy) {}
    // The device scan (a later part of the window).
    virtual void Update_Devices(Estados state) {}
    virtual void Manage_Error_Link() {}
    // The automatic support report of the error screen (a later part of the program).
    virtual void OnButton_Support() {}

    void Pinta_Campos(Estados state);
    void Update_Botones(Estados state);
    void SetLinea(int which, bool shown, int id = -1);

private:
    void peStep2Init(void* data);

    Estados state_ = STAT_STEP2_INIT;
    bool initialised_ = false;
    TLinea lineas_[kNumLines];
    TStep2Data step2_;
    bool button1_shown_ = false;
    DString button1_label_ = "Txt.Button.Central.StartSearch";
    bool reentra_button1_ = false;
    TManagerDevicesHost* host_ = nullptr;
    const VectorS<TProduct>* products_ = nullptr;
};

// The one devices window, for posted calls (null when there is none).
extern TManagerDevices_base* g_manager_devices;
