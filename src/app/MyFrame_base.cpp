#include "app/MyFrame_base.h"

#include "app/FrameStatistics.h"
#include "app/MyApp_base.h"
#include "foundation/Json.h"
#include "foundation/Monitor.h"
#include "foundation/PostExecute.h"
#include "foundation/Registra.h"
#include "foundation/Threads.h"
#include "platform/OsInfo.h"
#include "protocol/AppGlobals.h"
#include "protocol/Catalogue.h"
#include "protocol/CryptITV.h"
#include "protocol/ServerProtocol.h"
#include "protocol/Version.h"
#include "transfer/ManagerComm.h"
#include "window/ManagerUtils_base.h"

#include <zlib.h>

#include <atomic>
#include <string>

namespace {

const char* const kNoLinked = "No Linked";
const int kLoginRetryMs = 7000;
const int kInflateBuffer = 8192;
const int kInflateAttempts = 16;
const int kIvBytes = 16;

void Log(const CDString& text) {
    CustomRegistraComun(text);
}

// Inflates a zlib stream of n bytes into at most kInflateBuffer bytes.
bool Inflate(const unsigned char* data, int n, std::string& out) {
    unsigned char buffer[kInflateBuffer];
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = const_cast<unsigned char*>(data);
    zs.avail_in = static_cast<uInt>(n);
    zs.next_out = buffer;
    zs.avail_out = sizeof buffer;
    int r = inflate(&zs, Z_FINISH);
    bool ok = r == Z_STREAM_END;
    if (ok) out.assign(reinterpret_cast<char*>(buffer), sizeof buffer - zs.avail_out);
    inflateEnd(&zs);
    return ok;
}

DString JsonText(const CJSON& json, const char* name) {
    const char* v = json.GetObjectValueString(name);
    return DString(v ? v : "");
}

} // namespace

TVersionCheck DetectaVersion(const CDString& stored_version, const CDString& stored_new_installation,
                             const CDString& running_version) {
    TVersionCheck v;
    if (stored_version != running_version) {
        v.update = true;
        v.new_installation = stored_version.IsEmpty();
    } else if (stored_new_installation == "1") {
        v.update = true;
        v.new_installation = true;
    }
    return v;
}

// The login work: its data, its result and the worker that runs it.
struct MyFrame_base::TStep2 {
    class THilo : public TThreadITV {
    public:
        explicit THilo(std::function<void()> body) : TThreadITV("TStep2Login"), body_(std::move(body)) {}
        ~THilo() override { Join(); }
        std::atomic<bool> done{false};

    protected:
        void Run() override {
            body_();
            done.store(true, std::memory_order_release);
        }

    private:
        std::function<void()> body_;
    };

    DString install_params;
    bool no_params = false;
    TStringErr_i err;
    bool login_ok = false;
    bool products_ok = false;
    std::unique_ptr<THilo> hilo;
    bool finished = false; // Step2_Fin has run
};

MyFrame_base::MyFrame_base(MyApp_base* app) : m_app(app) {
    espera = [this](int ms) {
        // Short slices, so that closing the window does not wait for the whole pause.
        SleepOrStop(ms, m_utils ? m_utils->CurrentMonitor() : nullptr);
    };
}

MyFrame_base::~MyFrame_base() {
    CancelAndJoin();
    step2_.reset();
    CustomRegistraComun("MyFrame::~MyFrame . End of App");
    CustomRegistraSeparator();
    if (m_app && m_app->m_frame == this) m_app->m_frame = nullptr;
    delete m_comm;
    m_comm = nullptr;
    delete m_utils;
    m_utils = nullptr;
}

void MyFrame_base::CreaUtilidades(int width, int language, const TStringNomFitx& download_folder) {
    m_utils = new TManagerUtils_base(width, language);
    m_comm = new TManagerComm(download_folder);
    m_utils->InitGlobals(m_comm);
}

void MyFrame_base::SetDevices(TManagerDevices_base* devices) {
    m_devices = devices;
    if (!devices) return;
    devices->SetHost(this);
    if (m_utils) devices->SetProducts(&m_utils->sesion.products);
}

void MyFrame_base::CalculaPathsApp() {
    DString main = TStringNomFitx::Ret_Path_AppMain();
    m_utils->path_app_old = PathEarlierApplication(main);
    m_utils->path_app_new = PathThisApplication(main);
    Log(DString("Path App=") + m_utils->path_app_new);
}

void MyFrame_base::InitVersion() {
    GetOSVersion(downloader_os);
    GetOSType(downloader_osType);
    GetOSEdition(downloader_osEdition);
    GetOSBldVersion(downloader_osBldVersion);
    Log(DString("OS Info=") + downloader_os);

    DString version, new_installation;
    TManagerUtils_base::GetValue(version, "Version");
    TManagerUtils_base::GetValue(new_installation, "NewInstallation");
    TVersionCheck v = DetectaVersion(version, new_installation, downloader_version);
    DString t;
    t << "MyFrame::Init() . Version=" << version << " . NewInstallation=" << new_installation
      << " . update=" << v.update << " . newInstallation=" << v.new_installation;
    Log(t);
    if (v.update) {
        TFrameStatistics& stats = FrameStatistics();
        if (stats.UseStatusInformation("DownloaderUpdate"))
            stats.DownloaderUpdate(downloader_os, downloader_osType, downloader_osEdition,
                                   downloader_osBldVersion, version, downloader_version, v.new_installation);
        stats.ShowDownloaderUpdate(version, downloader_version, v.new_installation);
    }
    TManagerUtils_base::SetValue("0", "NewInstallation");
    TManagerUtils_base::SetValue(downloader_version, "Version");
    ShowCompiler(downloader_version);
}

void MyFrame_base::InitCall(const DString& install_params, bool no_params) {
    if (m_comm && m_comm->NoTempFolder()) {
        m_devices->message = GetTxtF("Txt.Err.Access.Path", {DString("Init =") + m_comm->TempDataPath()});
        m_devices->State_Machine(STAT_ERROR);
        return;
    }
    if (m_app && !m_app->m_startup_error.IsEmpty()) {
        m_devices->message = m_app->m_startup_error;
        m_devices->State_Machine(STAT_ERROR);
        return;
    }
    TStringErr_i none;
    m_devices->doPostStep2Init(install_params, no_params, none);
    TraceCurrentWebServerUrl();
    TraceCurrentIntegrityType();
}

// ---------------------------------------------------------------------------------------------
// Login

void MyFrame_base::Falla(TStringErr& err, const CDString& key, int code) {
    err = GetTxt(key);
    ManageError(code, kNoLinked, kNoLinked);
}

bool MyFrame_base::AutoLogin(const DString& install_params, TStringErr& err) {
    const char* const kFormat = "Txt.MgrComm.Err.ExeData.IncorrectFormat";
    if (install_params.IsEmpty()) {
        Falla(err, kFormat, 7310704);
        return false;
    }

    TCryptITV crypt("TwoFishBase64");
    crypt.Carga_Llave(appkey);
    DString plain;
    DStringB bytes;
    bool ok = crypt.Desencripta(install_params, plain, bytes) && bytes.LengthB() > 0;
    DString t;
    t << "ok=" << ok << ". parametros login installParams ---" << SecretForLog(install_params) << "---";
    Log(t);
    if (!ok) {
        Falla(err, kFormat, 7310701);
        return false;
    }

    // The compressed length from the Base64 text; the zero padding of the last block may make
    // it too long, so shorter lengths are tried too.
    int length = install_params.Length() * 3 / 4 - install_params.Cuenta_Caracter('=') - kIvBytes;
    if (length > bytes.LengthB()) length = bytes.LengthB();
    std::string inflated;
    bool inflated_ok = false;
    for (int attempt = 0; attempt < kInflateAttempts && !inflated_ok; ++attempt) {
        int n = length - attempt;
        if (n <= 0) break;
        inflated_ok = Inflate(bytes.Data(), n, inflated);
    }
    if (!inflated_ok) {
        Falla(err, kFormat, 7310702);
        return false;
    }

    DString text(inflated.c_str());
    text.Sustituye("\\\"", "\"");
    CJSON json;
    if (!json.Parse(text) || json.type != CJSON::cJSON_Object) {
        Falla(err, kFormat, 7310703);
        t = "";
        t << HEADER_ERROR << "parse json ---" << err << "---";
        Log(t);
        return false;
    }
    if (!json.GetObjectValueTrue("loginOK")) {
        Falla(err, "Txt.MgrComm.Err.Login.KO", 73108);
        t = "";
        t << HEADER_ERROR << "parse loginOK ---" << err << "---";
        Log(t);
        return false;
    }

    DString session_id = JsonText(json, "sessionId");
    DString idioma = JsonText(json, "Idioma");
    DString email = JsonText(json, "Email");
    DString password = JsonText(json, "Pwd");
    DString token = JsonText(json, "Token");
    // Never the password; the session id and the token only as length and hash.
    CustomRegistraSeparatorCompact();
    Log("get values login");
    Log(DString(" - usr=") + email);
    Log(DString(" - sessionId=") + SecretForLog(session_id));
    Log(DString(" - idioma=") + idioma);
    Log(DString(" - token=") + SecretForLog(token));
    CustomRegistraSeparatorCompact();

    m_utils->sesion.user = email;
    downloader_user = email;
    m_utils->sesion.sessionId = session_id;
    m_utils->SetIdioma(idioma);
    m_utils->sesion.token = token;
    m_utils->user_email2 = email;
    m_utils->user_email3 = email;

    // The session id and token later requests use are the ones stored above; those the login
    // check returns are only validated.
    DString checked_token = token;
    DString checked_session = session_id;
    return m_comm->Server_Login_Check(email, password, checked_token, checked_session, m_utils->sesion.idioma,
                                      err, m_utils->CurrentMonitor());
}

bool MyFrame_base::Login(const DString& install_params, bool no_params, TStringErr& err) {
    if (AutoLogin(install_params, err)) return true;
    DString t;
    t << HEADER_ERROR << "MyFrame_base::Login() - AutoLogin() failed . strError=" << err
      << " . In 7 segs. try again";
    Log(t);
    espera(kLoginRetryMs);
    if (MonHayStop(m_utils->CurrentMonitor())) return false;
    ResetErrorFlags();
    err.Vacia();
    bool ok = AutoLogin(install_params, err);
    if (!ok && no_params) err << GetTxt("Txt.MgrComm.Err.Login.BadResponse") << " No Params";
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Step 2: login and product list off the window thread

void MyFrame_base::InitCallStep2(const DString& install_params, bool no_params, TStringErr& err) {
    (void)err;
    if (Step2Running()) {
        Log("MyFrame::InitCallStep2() . already running");
        return;
    }
    step2_.reset(new TStep2);
    step2_->install_params = install_params;
    step2_->no_params = no_params;
    m_utils->NewMonitor();
    TStep2* job = step2_.get();
    if (step2_en_hilo) {
        job->hilo.reset(new TStep2::THilo([this, job] { Step2_Trabajo(*job); }));
        if (job->hilo->Start()) return;
        // No thread could be made: do the work here rather than leave the window waiting.
        Log("MyFrame::InitCallStep2() . no worker thread: the login runs on the window thread");
        job->hilo.reset();
    }
    Step2_Trabajo(*job);
    Step2_Fin();
}

void MyFrame_base::Step2_Trabajo(TStep2& job) {
    job.login_ok = Login(job.install_params, job.no_params, job.err);
    if (!job.login_ok) return;
    DString t;
    t << "MyFrame::Init()"
      << " . languageCode=" << m_utils->GetLanguageCode() << ". language=" << m_utils->GetLanguageText();
    Log(t);
    m_comm->SetIdiomaMsgs();
    job.products_ok = m_utils->GetProducts(job.err, m_utils->CurrentMonitor());
}

bool MyFrame_base::Step2Running() const {
    return step2_ && !step2_->finished;
}

void MyFrame_base::Step2_Fin() {
    TStep2& job = *step2_;
    job.finished = true;
    if (job.hilo) job.hilo->Join();
    if (MonHayStop(m_utils->CurrentMonitor())) {
        Log("MyFrame::InitCallStep2() . cancelled");
        return;
    }
    SetTitleText(RefreshTitle(server_www_com));
    downloader_languageCode = m_utils->GetLanguageCode();
    downloader_language = m_utils->GetLanguageText();
    if (m_app) m_app->SelectLanguage();

    if (job.login_ok && job.products_ok) {
        m_devices->State_Machine(STAT_INIT);
        m_devices->State_Machine(STAT_SEARCH_DEVICES);
        m_devices->State_Machine(STAT_UPDATE_DEVICES);
        return;
    }
    m_devices->message = job.err;
    job.err.Reported();
    m_devices->State_Machine(STAT_ERROR);
}

void MyFrame_base::Beat() {
    TBasePostExecute::BeatTimer();
    if (Step2Running() && step2_->hilo && step2_->hilo->done.load(std::memory_order_acquire)) Step2_Fin();
}

void MyFrame_base::FinishStep2Now() {
    if (Step2Running()) Step2_Fin();
}

// ---------------------------------------------------------------------------------------------
// Closing

bool MyFrame_base::ConfirmClose() {
    if (m_comm && m_comm->work_in_progress) {
        int answer =
            Application_MessageBox(GetTxt("Txt.General.Txt.Warn.Exit_Downloading"), InstallWizard_Title, 4);
        if (answer == 7) return false;
    }
    if (m_utils) m_utils->MonitorCancel();
    return true;
}

void MyFrame_base::CancelAndJoin() {
    if (m_utils) m_utils->MonitorCancel();
    if (step2_ && step2_->hilo) step2_->hilo->Join();
}

void MyFrame_base::EndOfRunStatistics() {
    TInfoUserData d;
    d.app_version = downloader_version;
    d.os = downloader_os;
    d.os_type = downloader_osType;
    d.os_edition = downloader_osEdition;
    d.os_bld_version = downloader_osBldVersion;
    d.language_code = downloader_languageCode;
    d.language = downloader_language;
    d.num_retries = m_utils ? m_utils->num_retries : 0;
    d.error_text = m_devices ? m_devices->message : DString();
    TLastError e = GetLastErrorRecord();
    d.error_code = e.code;
    d.error_file = e.file;
    d.error_version = e.code == kNoErrorCode ? DString("0") : downloader_version;

    TFrameStatistics& stats = FrameStatistics();
    if (stats.UseStatusInformation("InfoUser")) {
        stats.InfoUser(d);
        Sleep(3000);
        stats.SendSessionEnd();
    }
    stats.ShowInfoUser(d);
}

DString MyFrame_base::RefreshTitle(const CDString& server) {
    (void)server;
    return DString(InstallWizard_Title);
}
