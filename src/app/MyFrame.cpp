#include "app/MyFrame.h"

#include "window/ManagerUtils_base.h"
#include "window/ManagerDevices.h"

// clang-format off
wxBEGIN_EVENT_TABLE(MyFrame, wxFrame)
    EVT_MENU(wxID_EXIT, MyFrame::OnQuit)
    EVT_CLOSE(MyFrame::OnClose)
    EVT_TIMER(MyFrame::kTimerId, MyFrame::OnTimer)
wxEND_EVENT_TABLE()
    // clang-format on

    MyFrame::MyFrame(const wxString& title, const DString& install_params, bool no_params, int x, int y,
                     int width, int height, wxWindow* parent, int language, MyApp_base* app)
    : wxFrame(parent, wxID_ANY, title, wxPoint(x, y), wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      MyFrame_base(app) {
    SetClientSize(width, height);
    wxSize size = GetSize();
    SetSizeHints(size, size);
    Init(install_params, no_params, width, height, language);
}

MyFrame::~MyFrame() {
    if (m_timer) {
        m_timer->Stop();
        delete m_timer;
        m_timer = nullptr;
    }
    // Nothing the login worker uses goes before it has ended.
    CancelAndJoin();
    EndOfRunStatistics();
    m_devices = nullptr;
    delete m_devices_window;
    m_devices_window = nullptr;
}

void MyFrame::CreateTimer() {
    m_timer = new wxTimer(this, kTimerId);
    m_timer->Start(kTimerMs);
}

void MyFrame::Init(const DString& install_params, bool no_params, int width, int height, int language) {
    CreateTimer();
    CreaUtilidades(width, language);
    m_devices_window = new TManagerDevices(this, width, height);
    SetDevices(m_devices_window);
    m_devices_window->SetCursor(wxCursor(wxCURSOR_WAIT));
    CalculaPathsApp();
    if (m_devices->GetState() == STAT_ERROR) return;
    InitVersion();
    InitCall(install_params, no_params);
}

void MyFrame::setLabel(const DString& title) {
    SetTitle(wxString::FromUTF8(title.c_str()));
}

void MyFrame::OnTimer(wxTimerEvent&) {
    Beat();
}

void MyFrame::OnClose(wxCloseEvent& event) {
    if (closing_) {
        if (event.CanVeto()) event.Veto();
        return;
    }
    closing_ = true;
    if (event.CanVeto() && !ConfirmClose()) {
        event.Veto();
        closing_ = false;
        return;
    }
    // The worker, if any, is joined when the window is deleted; Destroy hides it at once.
    if (m_utils) m_utils->MonitorCancel();
    Destroy();
}

void MyFrame::OnQuit(wxCommandEvent&) {
    QuitApplication();
}

void MyFrame::QuitApplication() {
    if (m_utils) m_utils->MonitorCancel();
    Close(true);
}
