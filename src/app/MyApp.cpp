#include "app/MyApp.h"

#include "app/MyFrame.h"
#include "app/MyFrame_base.h"
#include "app/SingleInstance.h"
#include "foundation/Registra.h"
#include "protocol/Catalogue.h"

#include <wx/image.h>
#include <wx/msgdlg.h>

#include <csignal>
#include <cstdio>

namespace {

std::string g_launch_link;
TInstanciaUnica* g_guard = nullptr;
MyApp* g_app = nullptr;

// SIGTERM and SIGINT (a logout, Ctrl+C): the same clean end as the window's close box. The
// toolkit calls this from its event loop, not from the signal handler.
void OnTerminationSignal(int) {
    CustomRegistraComun("MyApp . termination signal: closing");
    if (g_app && g_app->m_frame)
        g_app->m_frame->QuitApplication();
    else if (wxTheApp)
        wxTheApp->ExitMainLoop();
}

} // namespace

void SetLaunchRequest(const std::string& link, TInstanciaUnica* guard) {
    g_launch_link = link;
    g_guard = guard;
}

void Apple_UrlControllerInit(MyApp* app) {
    g_app = app;
    if (!g_guard) return;
    bool ok = g_guard->Listen([](const std::string& link) {
        // Listener thread: the event is delivered on the main thread.
        if (wxTheApp) wxTheApp->CallAfter([link] { Apple_UrlControllerCallBack(DString(link.c_str())); });
    });
    if (!ok) {
        DString t;
        t << HEADER_ERROR << "Apple_UrlControllerInit() . links of later starts cannot be received . "
          << g_guard->Error().c_str();
        CustomRegistraComun(t);
    }
}

void Apple_UrlControllerCallBack(const DString& request) {
    if (g_app) g_app->ContinueOnInit(request);
}

void Apple_UrlControllerEnd() {
    if (g_guard) g_guard->Stop();
}

bool MyApp::Initialize(int& argc, wxChar** argv) {
    Initialize_base();
    if (!wxApp::Initialize(argc, argv)) {
        CustomRegistraComun(DString(HEADER_ERROR) + "MyApp::Initialize() . the toolkit could not start");
        return false;
    }
    SetApplicationMessageBox([](const DString& text, const DString& caption, int style) {
        wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
        return MessageBoxAnswer(wxMessageBox(wxString::FromUTF8(text.c_str()),
                                             wxString::FromUTF8(caption.c_str()),
                                             MessageBoxToolkitStyle(style), top));
    });
    CustomRegistraComun("Apple_UrlControllerInit()");
    Apple_UrlControllerInit(this);
    CustomRegistraComunHeaderEnd("MyApp::Initialize()");
    return true;
}

bool MyApp::OnInit() {
    // The link of the command line is this run's "get URL" event; without one the request is
    // empty, which shows the no-parameters error instead of waiting for ever.
    SetSignalHandler(SIGTERM, OnTerminationSignal);
    SetSignalHandler(SIGINT, OnTerminationSignal);
    std::string link = g_launch_link;
    CallAfter([link] { Apple_UrlControllerCallBack(DString(link.c_str())); });
    return true;
}

int MyApp::OnExit() {
    Apple_UrlControllerEnd();
    Exit_base();
    ReleaseCatalogue();
    SetApplicationMessageBox(nullptr);
    g_app = nullptr;
    return wxApp::OnExit();
}

bool MyApp::CreaFrame(const DString& install_params, bool no_params, int language) {
    MyFrame* frame = new MyFrame(wxEmptyString, install_params, no_params, wxDefaultCoord, wxDefaultCoord,
                                 650, 450, nullptr, language, this);
    m_frame = frame;
    frame->Centre();
    frame->setLabel(InstallWizard_Title);
    frame->Show(true);
    frame->Raise();
    SetTopWindow(frame);
    return true;
}

void MyApp::RegisterImageHandlers() {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
}

int Downloader_Main(int argc, char** argv) {
    std::string link = argc > 1 && argv[1] ? argv[1] : "";
    TInstanciaUnica guard;
    switch (guard.Claim(link)) {
    case TInstanciaUnica::kOwner:
        break;
    case TInstanciaUnica::kHandedOver:
        return 0;
    case TInstanciaUnica::kFailed:
        std::fprintf(stderr, "downloader2: Downloader is already running and could not be reached: %s\n",
                     guard.Error().c_str());
        return 1;
    }
    SetLaunchRequest(link, &guard);
    int rc = wxEntry(argc, argv);
    SetLaunchRequest("", nullptr);
    return rc;
}
