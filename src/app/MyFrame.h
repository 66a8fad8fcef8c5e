// MyFrame: the application's only top-level window. It draws nothing itself: it holds the devices
// window (one panel filling it), drives the 100 ms timer that runs posted calls and follows the
// login worker, and guards closing. The logic is MyFrame_base's. Window thread only.
#pragma once

#include "app/MyFrame_base.h"

#include <wx/frame.h>
#include <wx/timer.h>

class MyApp_base;
class TManagerDevices;

class MyFrame : public wxFrame, public MyFrame_base {
public:
    enum : int { kTimerId = 6014, kTimerMs = 100 };

    // The window (caption, system menu, close box; fixed size width x height), then Init.
    MyFrame(const wxString& title, const DString& install_params, bool no_params, int x, int y, int width,
            int height, wxWindow* parent, int language, MyApp_base* app);
    ~MyFrame() override;

    void setLabel(const DString& title);
    void QuitApplication() override;

private:
    void Init(const DString& install_params, bool no_params, int width, int height, int language);
    void CreateTimer();
    void OnTimer(wxTimerEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnQuit(wxCommandEvent& event);
    void SetTitleText(const DString& title) override { setLabel(title); }

    wxTimer* m_timer = nullptr;
    TManagerDevices* m_devices_window = nullptr;
    bool closing_ = false;

    wxDECLARE_EVENT_TABLE();
};
