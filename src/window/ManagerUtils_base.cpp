#include "window/ManagerUtils_base.h"

#include "platform/SettingsStore.h"
#include "protocol/ServerProtocol.h"
#include "protocol/Version.h"

TManagerUtils_base::TManagerUtils_base(int width_, int language) : width(width_), monitor_(new TMonitorProc) {
    (void)language; // the interface is English only
}

TManagerUtils_base::~TManagerUtils_base() = default;

void TManagerUtils_base::InitGlobals(TManagerComm* comm) {
    sesion.managerComm = comm;
}

void TManagerUtils_base::SetIdioma(const CDString& idioma) {
    (void)idioma;
    sesion.idioma = "en";
    language_code_ = 58;
    language_text_ = "en";
}

bool TManagerUtils_base::GetProducts(TStringErr& err, TMonitorProc* monitor) {
    return sesion.GetProducts(err, monitor);
}

void TManagerUtils_base::NewMonitor() {
    monitor_.reset(new TMonitorProc);
}

void TManagerUtils_base::MonitorCancel() {
    monitor_->Cancelar();
}

void TManagerUtils_base::Format_Version(DString& out) {
    out = ::Format_Version(downloader_version);
}

bool TManagerUtils_base::IsNewVersion() const {
    return ::IsNewVersion(new_version_text);
}

bool TManagerUtils_base::GetValue(DString& value, const char* name, const char* key_path) {
    (void)key_path;
    DString folder, file;
    value = "";
    return Apple_GetApppList_Path("Downloader", folder, file) &&
           Apple_GetValuepList(file.c_str(), name, value);
}

void TManagerUtils_base::SetValue(const CDString& value, const char* name, const char* key_path) {
    (void)key_path;
    DString folder, file;
    if (Apple_GetApppList_Path("Downloader", folder, file))
        Apple_SetValuepList(file.c_str(), name, value.c_str());
}
