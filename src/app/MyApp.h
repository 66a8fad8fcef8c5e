// MyApp: the toolkit's application object. It runs the start-up (MyApp_base), receives the install
// link as the "get URL" event on the main thread once the event loop runs (the link of the command
// line, then the links later processes hand over), builds the main frame for the first one and
// cleans up at exit.
#pragma once

#include "app/MyApp_base.h"

#include <wx/app.h>

#include <string>

class TInstanciaUnica;

class MyApp : public wxApp, public MyApp_base {
public:
    // Start-up steps: folders, log, shared folder, the toolkit, the URL event controller.
    bool Initialize(int& argc, wxChar** argv) override;
    // Does nothing more than queue the first link; true.
    bool OnInit() override;
    int OnExit() override;

protected:
    bool CreaFrame(const DString& install_params, bool no_params, int language) override;
    void RegisterImageHandlers() override;
};

// Given by main before the toolkit starts: the link of the command line ("" without one) and the
// run guard whose socket delivers the links of later processes (may be null).
void SetLaunchRequest(const std::string& link, TInstanciaUnica* guard);

// The URL event controller: records the application, starts listening for later links and queues
// the first link as a "get URL" event.
void Apple_UrlControllerInit(MyApp* app);
// A "get URL" event (main thread): hands the link to the application.
void Apple_UrlControllerCallBack(const DString& request);
// Stops listening for later links (at exit).
void Apple_UrlControllerEnd();

// The whole program: the run guard, then the toolkit's entry.
int Downloader_Main(int argc, char** argv);
