#include "window/ManagerDevices.h"

#include "foundation/Registra.h"
#include "protocol/Catalogue.h"
#include "protocol/ServerProtocol.h"

#include <wx/font.h>
#include <wx/utils.h>

namespace {

wxString Wx(const CDString& s) {
    return wxString::FromUTF8(s.c_str());
}

const int kMargin = 65; // texts are W - 65 wide
const int kButton1Width = 330;
const int kButton1Height = 70;
const int kButton1Y = 155;

} // namespace

TManagerDevices::TManagerDevices(wxWindow* parent, int width, int height)
    : wxPanel(parent, wxID_ANY, wxPoint(0, 0), wxSize(width, height)), width_(width) {
    SetBackgroundColour(*wxWHITE);
    SetForegroundColour(*wxBLACK);
    SetFont(wxFont(13, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    InitAllForm(false);
    Repinta();
}

TManagerDevices::~TManagerDevices() = default;

void TManagerDevices::InitAllForm(bool rebuild) {
    if (creado_ && !rebuild) return;
    if (creado_) {
        for (auto*& l : lineas_) {
            l->Destroy();
            l = nullptr;
        }
        version_->Destroy();
        build_->Destroy();
        m_button_1->Destroy();
    }
    for (auto*& l : lineas_)
        l = new wxStaticText(this, wxID_ANY, "", wxPoint(20, 80));

    // "v" followed by the version number as major.minor-patch ("149" reads "v1.49").
    const char* v = downloader_version.c_str();
    version_ = new wxStaticText(this, wxID_ANY, "", wxPoint(width_ - 74, 15));
    if (downloader_version.atoi() != 0 && downloader_version.Length() >= 3)
        version_->SetLabel(wxString::Format("v%c.%c%c", v[0], v[1], v[2]));
    build_ = new wxStaticText(this, wxID_ANY, Wx(BuildStamp()), wxPoint(width_ - 74, 30));
    build_->SetFont(wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    // Both labels stay inside the panel whatever the font's width.
    for (wxStaticText* label : {version_, build_}) {
        int w = label->GetBestSize().GetWidth();
        if (width_ - 74 + w > width_ - 8) label->Move(width_ - 8 - w, label->GetPosition().y);
    }

    m_button_1 = new wxButton(this, wxID_ANY, "", wxPoint((width_ - kButton1Width) / 2, kButton1Y),
                              wxSize(kButton1Width, kButton1Height));
    m_button_1->Bind(wxEVT_BUTTON, &TManagerDevices::OnButton_1, this);
    m_button_1->Hide();
    creado_ = true;
}

void TManagerDevices::PlaceLine(int which) {
    wxStaticText* text = lineas_[which];
    const TLinea& linea = Linea(which);
    if (!linea.shown) {
        text->Hide();
        return;
    }
    text->SetLabel(Wx(linea.texto));
    text->Wrap(width_ - kMargin);
    wxSize size = text->GetBestSize();
    int x = 20;
    if (which == kLineCentre1 || which == kLineCentre2) {
        x = (width_ - size.GetWidth()) / 2;
        if (x < 0) x = 20;
    }
    text->SetSize(x, linea.y, size.GetWidth(), size.GetHeight());
    text->Show();
}

void TManagerDevices::Repinta() {
    if (!creado_) return;
    for (int i = 0; i < kNumLines; ++i)
        PlaceLine(i);
    if (Button1Shown()) {
        m_button_1->SetLabel(Wx(GetTxt(Button1Label())));
        // The final screens put the button under the message.
        int y = kButton1Y;
        if (GetState() == STAT_END || GetState() == STAT_CANCELLED) {
            const wxStaticText* upper = lineas_[kLineUpper];
            int bottom = upper->IsShown() ? upper->GetPosition().y + upper->GetSize().GetHeight() + 20 : y;
            if (bottom > y) y = bottom;
        }
        m_button_1->Move((width_ - kButton1Width) / 2, y);
        m_button_1->Show();
    } else {
        m_button_1->Hide();
    }
    Refresh();
    Update();
}

void TManagerDevices::SetBusyCursor(bool busy) {
    SetCursor(busy ? wxCursor(wxCURSOR_WAIT) : wxNullCursor);
}

void TManagerDevices::OnButton_1(wxCommandEvent&) {
    PostExecuteF(&TManagerDevices_base::OnButton_1_1);
}
