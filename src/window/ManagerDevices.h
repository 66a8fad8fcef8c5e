// TManagerDevices: the devices window, one panel filling the main frame. It draws what its
// widget-free part (TManagerDevices_base) decides for each state: the text lines, the version
// label and the large button. Window thread only.
#pragma once

#include "window/ManagerDevices_base.h"

#include <wx/button.h>
#include <wx/panel.h>
#include <wx/stattext.h>

class TManagerDevices : public wxPanel, public TManagerDevices_base {
public:
    // width and height: the panel's fixed size.
    TManagerDevices(wxWindow* parent, int width, int height);
    ~TManagerDevices() override;

protected:
    void InitAllForm(bool rebuild) override;
    void Repinta() override;
    void SetBusyCursor(bool busy) override;

private:
    void OnButton_1(wxCommandEvent& event);
    void PlaceLine(int which);

    int width_;
    wxStaticText* lineas_[kNumLines] = {};
    wxStaticText* version_ = nullptr;
    wxStaticText* build_ = nullptr;
    wxButton* m_button_1 = nullptr;
    bool creado_ = false;
};
