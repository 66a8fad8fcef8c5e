#include "window/ManagerDevices_base.h"

#include "foundation/Registra.h"
#include "platform/SettingsStore.h"
#include "protocol/Catalogue.h"

TManagerDevices_base* g_manager_devices = nullptr;

namespace {

const char* const kNoLinked = "No Linked";

// Vertical positions of the lines.
const int kYUpper = 80;
const int kYUpperWaiting = 150;
const int kYCentre1 = 150;
const int kYCentre2 = 170;
const int kYLower = 315;

} // namespace

TManagerDevices_base::TManagerDevices_base() {
    Apple_InitFTPpList("Downloader");
    lineas_[kLineUpper] = {true, 5, kYUpperWaiting, DString()};
    lineas_[kLineLower] = {false, 15, kYLower, DString()};
    lineas_[kLineCentre1] = {false, 5, kYCentre1, DString()};
    lineas_[kLineCentre2] = {false, 6, kYCentre2, DString()};
    lineas_[kLineUpper].texto = Strings(5);
    if (!g_manager_devices) g_manager_devices = this;
}

TManagerDevices_base::~TManagerDevices_base() {
    if (g_manager_devices == this) g_manager_devices = nullptr;
}

void TManagerDevices_base::AddError(const CDString& text) {
    if (text.IsEmpty()) return;
    message << "\r\n" << text;
}

DString TManagerDevices_base::Strings(int id) const {
    switch (id) {
    case 1:
        return GetTxt("Txt.MgrDevices.Txt.ConnectDevs");
    case 5:
        return GetTxt("Txt.MgrDevices.Txt.Wait");
    case 6:
        return GetTxt("Txt.MgrDevices.Txt.SearchDevs");
    case 7: {
        int n = products_ ? products_->Numero() : 0;
        if (n == 0) return DString("");
        DString count;
        if (n > 1) count << n;
        return GetTxtF("Txt.MgrDevices.Txt.SelectDevs", {count, (*products_)[0].name});
    }
    case 8:
        return GetTxt("Txt.MgrDevices.Txt.CheckDevs");
    case 16:
        return message.IsEmpty() ? GetTxt("Txt.MgrDevices.Txt.ProductInstalled") : DString(message);
    case 17:
        return GetTxt("Txt.MgrDevices.Txt.InstallationCancelled");
    case 18:
        if (!message.IsEmpty()) return message;
        ManageError(73122, kNoLinked, kNoLinked);
        return GetTxt("Txt.Button.Central.ErrorEnd");
    default:
        return DString("");
    }
}

void TManagerDevices_base::SetLinea(int which, bool shown, int id) {
    lineas_[which].shown = shown;
    if (id >= 0) lineas_[which].id = id;
}

void TManagerDevices_base::Update_Botones(Estados state) {
    switch (state) {
    case STAT_ERROR:
    case STAT_SEARCH_DEVICES:
    case STAT_START_INSTALL:
    case STAT_INSTALLING:
        button1_shown_ = false;
        break;
    case STAT_INIT:
        button1_shown_ = true;
        break;
    case STAT_CANCELLED:
        button1_shown_ = true;
        button1_label_ = "Txt.Button.Central.CancelledEnd";
        break;
    case STAT_END:
        button1_shown_ = true;
        button1_label_ = message.IsEmpty() ? "Txt.Button.Central.OkEnd" : "Txt.Button.Central.NoOkEnd";
        break;
    case STAT_STEP2_INIT:
        button1_shown_ = false;
        button1_label_ = "Txt.Button.Central.StartSearch";
        break;
    default:
        break;
    }
}

void TManagerDevices_base::Pinta_Campos(Estados state) {
    Update_Botones(state);
    switch (state) {
    case STAT_ERROR:
        lineas_[kLineUpper].y = kYUpper;
        SetLinea(kLineUpper, true, 18);
        SetLinea(kLineLower, false);
        SetLinea(kLineCentre1, false);
        SetLinea(kLineCentre2, false);
        break;
    case STAT_INIT:
        lineas_[kLineUpper].y = kYUpper;
        SetLinea(kLineUpper, true, 1);
        SetLinea(kLineLower, false, 15);
        break;
    case STAT_SEARCH_DEVICES:
        SetLinea(kLineCentre1, true, 5);
        SetLinea(kLineCentre2, true, 6);
        break;
    case STAT_CANCELLED:
    case STAT_END:
        lineas_[kLineUpper].y = kYUpper;
        SetLinea(kLineUpper, true, state == STAT_END ? 16 : 17);
        SetLinea(kLineLower, false);
        SetLinea(kLineCentre1, false);
        SetLinea(kLineCentre2, false);
        break;
    default:
        break;
    }
    for (TLinea& linea : lineas_)
        if (linea.shown) linea.texto = Strings(linea.id);
    Repinta();
}

Estados TManagerDevices_base::State_Machine(int state, void* data) {
    state_ = static_cast<Estados>(state);
    DString t("SM = ");
    if (state <= 13) t << state;
    CustomRegistraComun(t);

    if (state == STAT_ERROR || state == STAT_INIT || state == STAT_STEP2_INIT) InitAllForm(false);
    Pinta_Campos(state_);

    switch (state) {
    case STAT_ERROR:
        // An error without a text of its own ends on the generic error text, not on the
        // success text of the final screen.
        if (message.IsEmpty()) message = lineas_[kLineUpper].texto;
        if (initialised_ && auto_report) OnButton_Support();
        Manage_Error_Link();
        State_Machine(STAT_END);
        return state_;
    case STAT_INIT:
        initialised_ = true;
        SetBusyCursor(false);
        return STAT_NADA;
    case STAT_SEARCH_DEVICES:
        return state_;
    case STAT_UPDATE_DEVICES:
        Update_Devices(state_);
        return STAT_SELECT_DEVICES;
    case STAT_END:
    case STAT_CANCELLED:
        SetBusyCursor(false);
        return state_;
    case STAT_STEP2_INIT: {
        initialised_ = true;
        if (data && data != &step2_) {
            const TStep2Data* d = static_cast<const TStep2Data*>(data);
            step2_.install_params = d->install_params;
            step2_.no_params = d->no_params;
            step2_.error = d->error;
        }
        if (host_) host_->InitCallStep2(step2_.install_params, step2_.no_params, step2_.error);
        return STAT_NADA;
    }
    default:
        return STAT_ERROR;
    }
}

void TManagerDevices_base::doPostStep2Init(const DString& install_params, bool no_params,
                                           const TStringErr& err) {
    step2_.install_params = install_params;
    step2_.no_params = no_params;
    step2_.error = err;
    PostExecuteF(&TManagerDevices_base::peStep2Init, &step2_);
}

void TManagerDevices_base::peStep2Init(void* data) {
    State_Machine(STAT_STEP2_INIT, data);
}

void TManagerDevices_base::OnButton_1_1(void*) {
    if (reentra_button1_) return;
    reentra_button1_ = true;
    if (state_ == STAT_CANCELLED || state_ == STAT_END) {
        SetBusyCursor(true);
        if (host_) host_->QuitApplication();
    } else {
        State_Machine(STAT_SEARCH_DEVICES);
        State_Machine(STAT_UPDATE_DEVICES);
    }
    reentra_button1_ = false;
}
