#include "app/MyApp_base.h"

#include "app/MyFrame_base.h"
#include "files/FitxUtils.h"
#include "files/PackedFiles.h"
#include "foundation/Registra.h"
#include "foundation/Threads.h"
#include "platform/PlatformFiles.h"
#include "platform/SettingsStore.h"
#include "platform/StandardFolders.h"
#include "platform/Volumes.h"
#include "protocol/AppGlobals.h"
#include "protocol/Catalogue.h"
#include "protocol/ServerProtocol.h"
#include "protocol/Version.h"
#include "transfer/InternetITV.h"
#include "window/ManagerUtils_base.h"

#include <wx/defs.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

const char* const InstallWizard_App = "Downloader2";
const char* const InstallWizard_Title = "Downloader";
const char* const QUILLMAP_APP_PARAMS = "params.bkp";

namespace {

const char* const kConfigFile = "downloader.cfg";
// Time allowed to reach a server; the idle limit of transfers stays as it is.
const long kConnectSeconds = 15;
const int kMaxParamsFile = 65536;

int g_request_count = 0;
TMessageBoxFn g_message_box;

void Log(const CDString& text) {
    CustomRegistraComun(text);
}

bool Exists(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

// Makes sure the folder exists: three tries, 300 and 400 ms apart.
bool CheckFolder(const CDString& folder) {
    const int pauses[] = {300, 400};
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Linux_PrivateFolder(folder.c_str())) return true;
        if (attempt < 2) Sleep(pauses[attempt]);
    }
    DString t;
    t << HEADER_ERROR << "CheckFolder() . cannot create folder=" << folder;
    Log(t);
    return false;
}

// A value of the configuration that names a file or folder: absolute only.
bool AbsolutePathValue(const DString& key, const DString& value) {
    if (!value.IsEmpty() && value[0] == '/') return true;
    DString t;
    t << " . " << key << " ignored (not an absolute path)=" << value;
    Log(t);
    return false;
}

} // namespace

DString SharedFolder() {
    DString f = Mac_GetPathAppData();
    f << "/" << InstallWizard_Title;
    return f;
}

// ---------------------------------------------------------------------------------------------
// Configuration

void ReadConfigurationText(const CDString& text) {
    VectorS<DString> lines;
    text.Separa_En_Palabras("\r\n", lines);
    for (int i = 0; i < lines.Numero(); ++i) {
        DString line = lines[i];
        line.Saca_EspaciosTabs_AntesDespues();
        if (line.IsEmpty()) continue;
        DString t;
        if (line.StartsWith("WebServerUrl=")) {
            DString value = line.SubString(13);
            if (value.IsEmpty()) continue;
            server_www_com = value;
            t << " . server_www_com=" << value;
        } else if (line.StartsWith("IntegrityType=")) {
            integrity_type = line.SubString(14).atoi();
            t << " . integrity_type=" << integrity_type;
        } else if (line.StartsWith("StatsServerUrl=")) {
            DString value = line.SubString(15);
            if (value.IsEmpty()) continue;
            server_stats_com = value;
            t << " . server_stats_com=" << value;
        } else if (line.StartsWith("SupportServerUrl=")) {
            DString value = line.SubString(17);
            if (value.IsEmpty()) continue;
            server_support_com = value;
            t << " . server_support_com=" << value;
        } else if (line.StartsWith("CAFile=")) {
            DString value = line.SubString(7);
            if (!AbsolutePathValue("CAFile", value)) continue;
            TInternetITV::Set_CAFile(value);
            t << " . CAFile=" << value;
        } else if (line.StartsWith("VolumesRoot=")) {
            DString value = line.SubString(12);
            if (!AbsolutePathValue("VolumesRoot", value)) continue;
            Linux_SetVolumesRootOverride(value.c_str());
            t << " . VolumesRoot=" << value;
        } else {
            continue;
        }
        Log(t);
    }
}

void ReadConfigurationFile() {
    CustomRegistraComunHeader(DString("ReadConfigurationFile() . Checking ") + kConfigFile);
    DString file = SharedFolder();
    file << "/" << kConfigFile;
    DString text;
    if (!Exists(file.c_str())) {
        Log(DString(kConfigFile) + " not found");
    } else if (!Linux_ReadSmallFile(file.c_str(), text)) {
        Log(DString("error opening ") + kConfigFile);
    } else {
        Log(DString(kConfigFile) + " found");
        ReadConfigurationText(text);
    }
    CustomRegistraSeparator();
}

void TraceCurrentWebServerUrl() {
    CustomRegistraComunHeader(DString("WebServerUrl=") + server_www_com);
}

void TraceCurrentIntegrityType() {
    DString t("IntegrityType=");
    t << integrity_type;
    CustomRegistraComunHeader(t);
}

// ---------------------------------------------------------------------------------------------
// Message box

TMessageBoxFn SetApplicationMessageBox(TMessageBoxFn fn) {
    TMessageBoxFn old = std::move(g_message_box);
    g_message_box = std::move(fn);
    return old;
}

int Application_MessageBox(const CDString& text, const CDString& caption, int style) {
    return g_message_box ? g_message_box(text, caption, style) : 0;
}

long MessageBoxToolkitStyle(int style) {
    long flags;
    switch (style & 0x0F) {
    case 1:
        flags = wxOK | wxCANCEL;
        break;
    case 3:
        flags = wxYES_NO | wxCANCEL;
        break;
    case 4:
        flags = wxYES_NO;
        break;
    default:
        flags = wxOK;
        break;
    }
    return flags | (long(style & 0x70) << 5);
}

int MessageBoxAnswer(int toolkit_answer) {
    switch (toolkit_answer) {
    case wxYES:
        return 6;
    case wxOK:
        return 1;
    case wxNO:
        return 7;
    case wxCANCEL:
        return 2;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// MyApp_base

MyApp_base::MyApp_base() = default;
MyApp_base::~MyApp_base() = default;

int MyApp_base::RequestCount() {
    return g_request_count;
}

void MyApp_base::ResetRequestCountForTests() {
    g_request_count = 0;
}

void MyApp_base::Initialize_base() {
    Apple_Init_Paths(InstallWizard_App);
    TFitxUtils::Instala_Hooks_NomFitx();
    Registra_Sistema_Zip(); // 'archive.zip!/member' names open in place
    DString shared = SharedFolder();
    Registra_SetDataFolder(shared.c_str());
    RegistraGPS.SetFileName((shared + "/quillmap.log").c_str());
    InitTrace();
    CustomRegistraComunHeaderBegin("MyApp::Initialize()");
    CheckFolder(shared);

    Http_GlobalInit();
    THttpLimits limits = TInternetITV::Get_Default_Limits();
    limits.connectSeconds = kConnectSeconds;
    TInternetITV::Set_Default_Limits(limits);
    DString t("MyApp::Initialize() . connectSeconds=");
    t << limits.connectSeconds << " . idleSeconds=" << limits.idleSeconds;
    Log(t);
}

bool MyApp_base::ContinueOnInit(const DString& request) {
    DString t;
    t << "MyApp::ContinueOnInit() . times=" << g_request_count
      << " . installParams=" << SecretForLog(m_install_params);
    Log(t);
    if (g_request_count++ >= 1) {
        Log("MyApp::ContinueOnInit() . --- Error !!! --- Second time");
        return false;
    }
    OnInitInitialize();

    m_install_params = request;
    GetInstallParams(m_install_params, m_startup_error);
    int language = GetLanguage();
    bool created = CreaFrame(m_install_params, !m_params_received, language);

    TStringNomFitx earlier = EarlierApplicationPath();
    if (earlier.IsEmpty()) return created;
    DString report;
    EReplacement r = ReplaceEarlierApplication(earlier, &report);
    if (!report.IsEmpty()) Log(report);
    if (r == EReplacement::kRolledBack || r == EReplacement::kFailed) {
        t = "";
        t << HEADER_ERROR << "MyApp::ContinueOnInit() . the earlier application was not replaced";
        Log(t);
    }
    return created;
}

void MyApp_base::OnInitInitialize() {
    CustomRegistraComunHeaderBegin("MyApp::OnInitInitialize()");
    m_params_received = false;
    downloader_version = "149";
    RegisterImageHandlers();
    ReadConfigurationFile();

    m_locale_path = GetEnvironmentDemandedPath("qiwlocale");
    MoveLocaleToTempFolder();
    Log(DString("MyApp::OnInitInitialize() . localePath= ") + m_locale_path);

    GetLanguage();
    SelectLanguage();
    CustomRegistraComunHeaderEnd("MyApp::OnInitInitialize()");
}

bool MyApp_base::GetInstallParams(DString& request, TStringErr& err) {
    if (!request.IsEmpty()) {
        request.Sustituye("quillinstallwizard2:", "quillinstallwizard:");
        m_raw_request = request;
    }
    DString t;
    t << "MyApp::GetInstallParams() . STEP"
      << "2"
      << " . " << InstallWizard_App;
    Log(t);
    if (!request.IsEmpty()) {
        t = "";
        t << "MyApp::GetInstallParams() . installParams=" << SecretForLog(request);
        Log(t);
        request = request.GetParam("quillinstallwizard:", " ");
        if (request.IsEmpty()) return false;
        m_params_received = true;
        return true;
    }
    err = GetTxt("Txt.Err.No.Params.Received");
    CustomRegistraComunHeader(DString(HEADER_ERROR) + "MyApp::GetInstallParams() . No installParams");
    return false;
}

int MyApp_base::GetLanguage() {
    DString value;
    TManagerUtils_base::GetValue(value, "Language");
    CustomRegistraLanguagesList();
    Log(DString("MyApp::GetLanguage() . language=") + value);
    int code = value.atoi();
    return code ? code : 58;
}

void MyApp_base::SelectLanguage() {
    const int language = 58;
    bool ok = SelectCatalogue(m_locale_path);
    if (!ok) ok = SelectCatalogue(m_locale_path);
    CustomRegistraLanguagesList();
    DString t;
    t << "MyApp::SelectLanguage() . language=" << language << " . ok=" << ok << " . cur_Language=" << language
      << " . pathlanguage=" << kCatalogueDomain;
    Log(t);
    SetLanguage(language);
}

void MyApp_base::SetLanguage(int code) {
    DString value;
    value << code;
    TManagerUtils_base::SetValue(value, "Language");
    Log(DString("MyApp::SetLanguage() . language=") + value);
}

bool MyApp_base::MoveLocaleToTempFolder() {
    TStringErr_i err;
    bool ok = MoveLocaleToFolder(m_locale_path, err);
    if (!ok) {
        DString t;
        t << HEADER_ERROR << "MyApp::MoveLocaleToTempFolder() . strError=" << err;
        Log(t);
    }
    return ok;
}

TStringNomFitx MyApp_base::ParamsFile() const {
    TStringNomFitx f(TStringNomFitx::Ret_Path_AppData());
    f << QUILLMAP_APP_PARAMS;
    return f;
}

bool MyApp_base::SaveParams(TStringErr& err) {
    if (m_raw_request.IsEmpty()) {
        err = "No Params when SaveParams()";
        return false;
    }
    TStringNomFitx file = ParamsFile();
    // The request carries the user's credentials: the file is private.
    if (!Linux_WriteFileAtomic(file.c_str(), m_raw_request.c_str(), 0600)) {
        unlink(file.c_str());
        err = "Error saving params when SaveParams()";
        return false;
    }
    return true;
}

bool MyApp_base::ReadParams(TStringErr& err) {
    TStringNomFitx file = ParamsFile();
    int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    std::string data;
    bool ok = fd >= 0;
    struct stat st;
    if (ok) ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxParamsFile;
    char buf[4096];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
        if (data.size() > static_cast<size_t>(kMaxParamsFile)) ok = false;
    }
    if (fd >= 0) close(fd);
    if (!ok) {
        err = "Error reading params when ReadParams()";
        return false;
    }
    if (!data.empty()) m_raw_request = data.c_str();
    return true;
}

bool MyApp_base::DeleteParams(TStringErr& err) {
    TStringNomFitx file = ParamsFile();
    DString t;
    if (!Exists(file.c_str())) {
        t << "MyApp::DeleteParams() . In the beginning Params File Not found=" << file;
        Log(t);
        return true;
    }
    bool ok = unlink(file.c_str()) == 0 || errno == ENOENT;
    t << "MyApp::DeleteParams() . ok=" << ok << " . File=" << file;
    Log(t);
    if (!ok) {
        err = "Error deleting params when DeleteParams()";
        t = "";
        t << "MyApp::DeleteParams() . strError=" << err;
        Log(t);
    }
    return ok;
}

void MyApp_base::Exit_base() {
    m_startup_error.Reported();
    TStringErr_i err;
    DeleteParams(err);
}

TStringNomFitx MyApp_base::EarlierApplicationPath() const {
    DString main = TStringNomFitx::Ret_Path_AppMain();
    if (main.IsEmpty()) return TStringNomFitx();
    return PathEarlierApplication(main);
}
