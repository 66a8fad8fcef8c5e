#include "foundation/NomFitx.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using std::string;

TRegistroCarpetas& Registro() {
    static TRegistroCarpetas registro;
    return registro;
}

// ---- local folder I/O used when the file layer has not installed its own ----

bool ExisteCarpetaLocal(const char* folder) {
    struct stat st;
    return folder && *folder && stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreaCarpetaLocal(const char* folder) {
    if (!folder || !*folder) return false;
    string path(folder);
    size_t pos = 0;
    while (pos != string::npos) {
        pos = path.find('/', pos + 1);
        string part = path.substr(0, pos);
        if (part.empty() || part == "/") continue;
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return ExisteCarpetaLocal(folder);
}

TNomFitxHooks& Hooks() {
    static TNomFitxHooks hooks{&ExisteCarpetaLocal, &CreaCarpetaLocal};
    return hooks;
}

std::atomic<bool> temp_creation_tried{false};

// ---- small string helpers ----

bool EndsWithSlash(const string& s) {
    return !s.empty() && s.back() == '/';
}

string WithoutFinalSlash(const string& s) {
    return EndsWithSlash(s) ? s.substr(0, s.size() - 1) : s;
}

// Case-insensitive equality of two byte ranges (Unicode upper case through Dstrcmpi).
bool IgualesCI(const string& a, const string& b) {
    return Dstrcmpi(a.c_str(), b.c_str()) == 0;
}

// Case-insensitive "s starts with prefix" over exactly the prefix's bytes.
bool EmpiezaCI(const string& s, const string& prefix) {
    if (s.size() < prefix.size()) return false;
    return IgualesCI(s.substr(0, prefix.size()), prefix);
}

// s starts with prefix (case-sensitive) and the prefix ends at a folder boundary.
bool EmpiezaCarpeta(const string& s, const string& prefix) {
    if (prefix.empty() || s.compare(0, prefix.size(), prefix) != 0) return false;
    return s.size() == prefix.size() || prefix.back() == '/' || s[prefix.size()] == '/';
}

string FileName(const string& s) {
    size_t p = s.find_last_of("/\\");
    return p == string::npos ? s : s.substr(p + 1);
}

bool EsURLHttp(const string& s) {
    return s.compare(0, 7, "http://") == 0 || s.compare(0, 8, "https://") == 0;
}

string ArreglaSeparadores(string s) {
    if (!EsURLHttp(s))
        for (char& c : s)
            if (c == '\\') c = '/';
    return s;
}

// Folder and name joined with exactly one '/'; the folder's '\' become '/'.
string Junta(const string& folder_in, const string& name_in) {
    string out = ArreglaSeparadores(folder_in);
    if (!out.empty() && out.back() != '/') out += '/';
    out += (!name_in.empty() && name_in[0] == '/') ? name_in.substr(1) : name_in;
    return out;
}

std::vector<string> SplitAny(const string& s, const char* seps) {
    std::vector<string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t p = s.find_first_of(seps, start);
        if (p == string::npos) p = s.size();
        if (p > start) out.push_back(s.substr(start, p - start));
        start = p + 1;
    }
    return out;
}

bool ExtensionEnLista(const string& ext, const char* list) {
    if (!list) return false;
    for (const string& item : SplitAny(list, ",;"))
        if (IgualesCI(ext, item)) return true;
    return false;
}

// The unit after a volumes root that the value starts with ("" when none follows).
string UnidadTrasRaiz(const string& s, const string& root) {
    string rest = s.substr(root.size());
    size_t p = rest.find('/');
    return p == string::npos ? rest : rest.substr(0, p);
}

string Reemplaza(const string& s, const string& from, const string& to, int& count) {
    count = 0;
    if (from.empty() || from == to) return s;
    string out;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(from, start);
        if (p == string::npos) break;
        out.append(s, start, p - start);
        out += to;
        start = p + from.size();
        ++count;
    }
    out.append(s, start, string::npos);
    return out;
}

struct EtiquetaCarpeta {
    const DString* folder;
    const char* label;
};

std::vector<EtiquetaCarpeta> EtiquetasUsuario() {
    const TRegistroCarpetas& r = Registro();
    return {{&r.dir_mydocs, "Docs"},
            {&r.dir_temp, "Temp"},
            {&r.main_app_path, "App"},
            {&r.dir_exe, "Exe"},
            {&r.dir_mydocs_sdcard, "SDCard"}};
}

} // namespace

// ======================================================================================
// Registry
// ======================================================================================

const TRegistroCarpetas& RegistroCarpetas() {
    return Registro();
}

void Set_NomFitx_Hooks(const TNomFitxHooks& hooks) {
    Hooks().existe_carpeta = hooks.existe_carpeta ? hooks.existe_carpeta : &ExisteCarpetaLocal;
    Hooks().crea_carpeta = hooks.crea_carpeta ? hooks.crea_carpeta : &CreaCarpetaLocal;
}

void TStringNomFitx::Set_this_Path_Exe(const char* file) {
    Registro().dir_exe = TStringNomFitx(file).npath();
}

void TStringNomFitx::Set_this_Path_de_AppData(const char* folder, bool make_temp) {
    Registro().global_path_app_data = folder;
    Registro().app_path = folder;
    if (make_temp && folder && *folder) Hooks().crea_carpeta(Junta(folder, "temp").c_str());
}

void TStringNomFitx::Set_this_Path_MyDocuments(const char* folder) {
    string f = folder ? folder : "";
    if (f.size() > 4 && f.back() == '/') f.pop_back();
    Registro().dir_mydocs = f.c_str();
}

void TStringNomFitx::Set_this_Path_Temp(const char* folder) {
    Registro().dir_temp = folder;
}
void TStringNomFitx::Set_this_Path_Main_App(const char* folder) {
    Registro().main_app_path = folder;
}
void TStringNomFitx::Set_this_Path_MyDocs_SDCard(const char* folder) {
    Registro().dir_mydocs_sdcard = folder;
}
void TStringNomFitx::Set_this_Path_Caches(const char* folder) {
    Registro().dir_caches = folder;
}
void TStringNomFitx::Set_this_Path_Lib(const char* folder) {
    Registro().lib_path = folder;
}
void TStringNomFitx::Set_this_Nom_Exe(const char* name) {
    Registro().nom_exe = name;
}

void TStringNomFitx::Set_this_Volumes_Root(const char* folder) {
    string f = folder ? folder : "";
    if (f.empty()) f = "/Volumes/";
    if (!EndsWithSlash(f)) f += '/';
    Registro().volumes_root = f.c_str();
}

DString TStringNomFitx::Ret_Volumes_Root() {
    return Registro().volumes_root;
}

void TStringNomFitx::Set_this_Media_Roots(const char* list) {
    string out;
    for (string item : SplitAny(list ? list : "", ";")) {
        if (!EndsWithSlash(item)) item += '/';
        if (!out.empty()) out += ';';
        out += item;
    }
    Registro().media_roots = out.c_str();
}

void TStringNomFitx::Libera_Registro() {
    Registro() = TRegistroCarpetas();
    temp_creation_tried = false;
}

// ======================================================================================
// Name parts
// ======================================================================================

DString TStringNomFitx::nom_fitx_ext() const {
    return FileName(c_str()).c_str();
}

DString TStringNomFitx::nom_fitx_sinext() const {
    string name = FileName(c_str());
    size_t dot = name.rfind('.');
    if (dot == string::npos || dot == 0) return name.c_str();
    return name.substr(0, dot).c_str();
}

DString TStringNomFitx::extension() const {
    string name = FileName(c_str());
    size_t dot = name.rfind('.');
    return dot == string::npos ? DString() : DString(name.substr(dot + 1).c_str());
}

TStringNomFitx TStringNomFitx::npath() const {
    return npath('/');
}

TStringNomFitx TStringNomFitx::npath(char sep) const {
    string s = c_str();
    size_t p = s.rfind(sep);
    return p == string::npos ? TStringNomFitx() : TStringNomFitx(s.substr(0, p).c_str());
}

TStringNomFitx TStringNomFitx::Obten_Carpeta() const {
    string s = c_str();
    size_t p = s.rfind('/');
    if (p == string::npos) return TStringNomFitx();
    return TStringNomFitx(s.substr(0, p + 1).c_str()); // a name in the root folder gives "/"
}

TStringNomFitx TStringNomFitx::MainFile() const {
    string s = c_str();
    size_t p = s.rfind("!/");
    return p == string::npos ? npath() : TStringNomFitx(s.substr(0, p).c_str());
}

TStringNomFitx TStringNomFitx::SubFile() const {
    string s = c_str();
    size_t bang = s.find('!');
    if (bang == string::npos) return TStringNomFitx();
    size_t slash = s.find('/', bang);
    return slash == string::npos ? TStringNomFitx() : TStringNomFitx(s.substr(slash + 1).c_str());
}

void TStringNomFitx::Separa_Path_Fitx(DString& folder, DString& name) const {
    folder = npath();
    name = nom_fitx_ext();
}

bool TStringNomFitx::Separa_Carpeta_Padre_y_Esta(DString& parent, DString& name) {
    Quita_Final_Slash();
    string s = c_str();
    if (s.empty()) return false;
    size_t p = s.rfind('/');
    if (p == string::npos) {
        parent = "";
        name = s.c_str();
    } else {
        parent = s.substr(0, p + 1).c_str();
        name = s.substr(p + 1).c_str();
    }
    return true;
}

int TStringNomFitx::Obten_Num_Carpetas() const {
    return Cuenta_Caracter('/');
}

bool TStringNomFitx::Path_Absoluto() const {
    string s = c_str();
    if (s.empty()) return false;
    if (s[0] == '$') return true;
    if (s.size() < 2) return false;
    return s[1] == ':' || s[0] == '/' || s.find(':') != string::npos;
}

bool TStringNomFitx::Es_URL_http() const {
    return EsURLHttp(c_str());
}

bool TStringNomFitx::es_extension(const char* ext) const {
    return IgualesCI(extension().c_str(), ext ? ext : "");
}

bool TStringNomFitx::es_extensiones(const char* list) const {
    return ExtensionEnLista(extension().c_str(), list);
}

bool TStringNomFitx::Es_Archivo_Hijo(const char* child_in, int& len) const {
    string folder = WithoutFinalSlash(c_str());
    string child = child_in ? child_in : "";
    len = int(folder.size());
    if (child.size() < folder.size()) return false;
    if (!IgualesCI(child.substr(0, folder.size()), folder)) return false;
    return child.size() == folder.size() || child[folder.size()] == '/';
}

static const char kExtImagen[] = "jpg,jpeg,png,gif,bmp";
static const char kExtVideo[] = "AVI;WMV;MPG;MPEG;ASF;VOB;3GP;MOV;MP4;OGV";

bool TStringNomFitx::es_extension_Imagen() const {
    return es_extensiones(kExtImagen);
}
bool TStringNomFitx::es_extension_Video() const {
    return es_extensiones(kExtVideo);
}
const char* TStringNomFitx::GetExtensionesVideo() {
    return kExtVideo;
}

// ======================================================================================
// Composition
// ======================================================================================

TStringNomFitx& TStringNomFitx::Set_Path_y_Fitx(const char* folder, const char* name) {
    string joined = Junta(folder ? folder : "", name ? name : "");
    DString::operator=(joined.c_str());
    return *this;
}

TStringNomFitx& TStringNomFitx::Set_Path(const char* folder) {
    DString name = nom_fitx_ext();
    return Set_Path_y_Fitx(folder, name.c_str());
}

TStringNomFitx& TStringNomFitx::Set_nom_fitx_ext(const char* name_in) {
    string s = c_str();
    string name = name_in ? name_in : "";
    if (!name.empty() && name[0] == '/') name.erase(0, 1);
    size_t p = s.rfind('/');
    string out = p == string::npos ? name : s.substr(0, p + 1) + name;
    DString::operator=(out.c_str());
    return *this;
}

TStringNomFitx& TStringNomFitx::Set_nom_fitx_sinext(const char* base) {
    string name = string(base ? base : "") + "." + extension().c_str();
    return Set_nom_fitx_ext(name.c_str());
}

// Cuts s at its last '.' when that '.' lies after the last '/'.
static string SinUltimaExtension(const string& s) {
    size_t dot = s.rfind('.');
    size_t slash = s.rfind('/');
    if (dot != string::npos && (slash == string::npos || dot > slash)) return s.substr(0, dot);
    return s;
}

TStringNomFitx& TStringNomFitx::Cambia_Ext(const char* ext_in) {
    string ext = ext_in ? ext_in : "";
    string out = SinUltimaExtension(c_str());
    if (!ext.empty() && ext[0] != '.') out += '.';
    out += ext;
    DString::operator=(out.c_str());
    return *this;
}

TStringNomFitx& TStringNomFitx::Elimina_Ultima_Extension() {
    DString::operator=(SinUltimaExtension(c_str()).c_str());
    return *this;
}

TStringNomFitx& TStringNomFitx::Set_Final_Slash() {
    if (!EndsWithSlash(c_str())) DString::operator+=('/');
    return *this;
}

TStringNomFitx& TStringNomFitx::Quita_Final_Slash() {
    if (EndsWithSlash(c_str())) DString::operator=(WithoutFinalSlash(c_str()).c_str());
    return *this;
}

TStringNomFitx& TStringNomFitx::operator<<(char c) {
    if (!(c == '/' && EndsWithSlash(c_str()))) DString::operator+=(c);
    return *this;
}

TStringNomFitx& TStringNomFitx::operator<<(const char* part) {
    if (!part || !*part) return *this;
    // An empty value stays relative: no '/' is put in front of the first component.
    if (!IsEmpty() && !EndsWithSlash(c_str()) && part[0] != '/') DString::operator+=('/');
    DString::operator+=(part);
    return *this;
}

TStringNomFitx& TStringNomFitx::Arregla_dir_carac() {
    if (!Es_URL_http() && strchr('\\') >= 0) DString::operator=(ArreglaSeparadores(c_str()).c_str());
    return *this;
}

bool TStringNomFitx::Resta_Path(const char* base) {
    int len = 0;
    if (!TStringNomFitx(base).Es_Archivo_Hijo(c_str(), len)) return false;
    string s = c_str();
    s.erase(0, size_t(len));
    if (!s.empty() && s[0] == '/') s.erase(0, 1);
    DString::operator=(s.c_str());
    return true;
}

bool TStringNomFitx::Set_Path_del_Fitx(const char* other) {
    if (Path_Absoluto()) return false;
    TStringNomFitx old_folder = npath();
    DString name = nom_fitx_ext();
    TStringNomFitx base(other);
    Set_Path_y_Fitx(base.npath().c_str(), name.c_str());
    if (!old_folder.IsEmpty()) cd(old_folder.c_str(), true);
    return true;
}

bool TStringNomFitx::Descodifica_file_url() {
    static const char kPrefix[] = "file:///";
    if (!StartsWith(kPrefix, true)) return false;
    DString rest = ("/" + ArreglaSeparadores(string(c_str()).substr(sizeof kPrefix - 1))).c_str();
    rest.URLDecode();
    DString::operator=(rest);
    return true;
}

bool TStringNomFitx::Verifica_Existencia_Carpeta(bool of_file) const {
    TStringNomFitx folder = of_file ? Obten_Carpeta() : *this;
    if (folder.IsEmpty()) return false;
    return Hooks().existe_carpeta(folder.c_str());
}

TStringNomFitx& TStringNomFitx::cd(const char* target_in, bool keep_file) {
    string target = ArreglaSeparadores(target_in ? target_in : "");
    if (TStringNomFitx(target.c_str()).Path_Absoluto()) {
        if (keep_file) {
            DString name = nom_fitx_ext();
            return Set_Path_y_Fitx(target.c_str(), name.c_str());
        }
        DString::operator=(target.c_str());
        return *this;
    }
    if (target.find_first_of("/\\") != string::npos) {
        for (const string& component : SplitAny(target, "/\\"))
            cd(component.c_str(), keep_file);
        return *this;
    }
    string folder = keep_file ? string(npath().c_str()) : string(c_str());
    string name = keep_file ? string(nom_fitx_ext().c_str()) : string();
    if (target == "..") {
        folder = WithoutFinalSlash(folder);
        size_t p = folder.rfind('/');
        if (p == string::npos) return *this;
        folder.erase(p + 1); // keep the '/', so that the root folder survives
    } else if (!target.empty() && target != ".") {
        if (!folder.empty() && !EndsWithSlash(folder)) folder += '/';
        folder += target;
    }
    return Set_Path_y_Fitx(folder.c_str(), name.c_str());
}

// ======================================================================================
// Volumes
// ======================================================================================

DString TStringNomFitx::Obten_Unidad() const {
    string s = c_str();
    string root = Registro().volumes_root.c_str();
    size_t p = s.find(root);
    if (p == string::npos) return s.find('/') == string::npos ? DString(s.c_str()) : DString();
    string rest = s.substr(p + root.size());
    size_t slash = rest.find('/');
    return slash == string::npos ? DString() : DString(rest.substr(0, slash).c_str());
}

TStringNomFitx TStringNomFitx::Obten_Unidad_Formateada(bool ftp_aware) const {
    if (ftp_aware && StartsWith("FTP1:", true)) return TStringNomFitx("FTP1:/");
    TStringNomFitx out(Registro().volumes_root);
    DString unit = Obten_Unidad();
    if (!unit.IsEmpty()) {
        out += unit;
        out.Set_Final_Slash();
    }
    return out;
}

int TStringNomFitx::Len_Unidad_Formateada() const {
    return Obten_Unidad_Formateada(false).Length();
}

bool TStringNomFitx::Quita_Unidad_Formateada() {
    DString unit = Obten_Unidad();
    if (unit.IsEmpty()) return false;
    string key = string(Registro().volumes_root.c_str()) + unit.c_str() + "/";
    string s = c_str();
    size_t p = s.find(key);
    if (p == string::npos) return false;
    DString::operator=(s.substr(p + key.size()).c_str());
    return true;
}

TStringNomFitx& TStringNomFitx::Set_Path_Volume(const char* volume) {
    string old = c_str();
    string out = string(Registro().volumes_root.c_str()) + WithoutFinalSlash(volume ? volume : "");
    if (!old.empty()) {
        if (old[0] != '/') out += '/';
        out += old;
    }
    DString::operator=(out.c_str());
    return Set_Final_Slash();
}

TStringNomFitx TStringNomFitx::Obten_Unidad_Typo() const {
    string s = c_str();
    if (s.empty() || s[0] != '/' || s.find('/', 1) == string::npos) return TStringNomFitx();
    for (const char* fixed : {"/storage/emulated/0", "/root/OrvaneData", "/root/ExternalSD"})
        if (EmpiezaCarpeta(s, fixed)) return TStringNomFitx(fixed);
    // A path on a volume needs the volume itself: never its parent, which exists without it.
    std::vector<string> roots{Registro().volumes_root.c_str()};
    for (const string& media : SplitAny(Registro().media_roots.c_str(), ";"))
        roots.push_back(media);
    for (const string& root : roots) {
        if (root.empty() || s.compare(0, root.size(), root) != 0) continue;
        string unit = UnidadTrasRaiz(s, root);
        return TStringNomFitx((root + unit).c_str()).Quita_Final_Slash();
    }
    string docs = Registro().dir_mydocs.c_str();
    if (EmpiezaCarpeta(s, docs)) return TStringNomFitx(docs.c_str());
    return TStringNomFitx(s.substr(0, s.find('/', 1)).c_str());
}

// ======================================================================================
// Application folders
// ======================================================================================

bool TStringNomFitx::Set_Path_Exe() {
    if (Registro().dir_exe.IsEmpty()) return false;
    Set_Path(Registro().dir_exe.c_str());
    return true;
}

bool TStringNomFitx::Set_Path_ExeD(const char* sub) {
    if (!Set_Path_Exe()) return false;
    if (sub && *sub) cd(sub, true);
    return true;
}

bool TStringNomFitx::Set_Path_AppData() {
    if (Registro().global_path_app_data.IsEmpty()) return Set_Path_Exe();
    Set_Path(Registro().global_path_app_data.c_str());
    return true;
}

// The temporary folder: the registered one, else "<app data>/temp" (created once per process).
static string CarpetaTemporal() {
    const TRegistroCarpetas& r = Registro();
    if (!r.dir_temp.IsEmpty()) return r.dir_temp.c_str();
    if (r.global_path_app_data.IsEmpty()) return string();
    string temp = Junta(r.global_path_app_data.c_str(), "temp");
    if (!Hooks().existe_carpeta(temp.c_str()) && !temp_creation_tried.exchange(true))
        Hooks().crea_carpeta(temp.c_str());
    return temp;
}

bool TStringNomFitx::Set_Path_Temp() {
    string temp = CarpetaTemporal();
    if (temp.empty()) return false;
    Set_Path(temp.c_str());
    return true;
}

bool TStringNomFitx::SetTempFile() {
    string temp = CarpetaTemporal();
    if (temp.empty()) return false;
    static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
    thread_local std::mt19937_64 gen{std::random_device{}()};
    string name;
    for (int i = 0; i < 10; ++i)
        name += kChars[gen() % 32];
    Set_Path_y_Fitx(temp.c_str(), name.c_str());
    return true;
}

bool TStringNomFitx::GetMyDocsPath(DString& folder, DString& label) {
    if (Registro().dir_mydocs.IsEmpty()) return false;
    folder = Registro().dir_mydocs;
    label = "Docs";
    return true;
}

bool TStringNomFitx::GetMyDocsExtPath(DString& folder, DString& label) {
    folder = Registro().dir_mydocs_sdcard;
    label = "SDCard";
    return !folder.IsEmpty();
}

DString TStringNomFitx::Ret_Path_Exe() {
    return Registro().dir_exe;
}
DString TStringNomFitx::Ret_Path_AppData() {
    return Registro().app_path;
}
DString TStringNomFitx::Ret_Path_AppMain() {
    return Registro().main_app_path;
}

// ======================================================================================
// Path macros and filters
// ======================================================================================

static const char kMacroApp[] = "$(QuillmapApp)";

int TStringNomFitx::CodificaNomFitx() {
    if (Registro().main_app_path.IsEmpty()) return 0;
    int count = 0;
    string out = Reemplaza(c_str(), Registro().main_app_path.c_str(), kMacroApp, count);
    DString::operator=(out.c_str());
    return count;
}

int TStringNomFitx::DescodificaNomFitx() {
    if (Registro().main_app_path.IsEmpty()) return 0;
    int count = 0;
    string out = Reemplaza(c_str(), kMacroApp, Registro().main_app_path.c_str(), count);
    DString::operator=(out.c_str());
    return count;
}

bool TStringNomFitx::ReducePathUser() {
    string s = c_str();
    for (const EtiquetaCarpeta& e : EtiquetasUsuario()) {
        string folder = e.folder->c_str();
        if (!folder.empty() && EmpiezaCI(s, folder)) {
            DString::operator=((e.label + s.substr(folder.size())).c_str());
            return true;
        }
    }
    return false;
}

bool TStringNomFitx::ExpandePathUser() {
    string s = c_str();
    for (const EtiquetaCarpeta& e : EtiquetasUsuario()) {
        string folder = e.folder->c_str();
        string label = e.label;
        if (!folder.empty() && EmpiezaCI(s, label)) {
            DString::operator=((folder + s.substr(label.size())).c_str());
            return true;
        }
    }
    return false;
}

void TStringNomFitx::Filtra_Path_Special_Chars(int from) {
    string s = c_str();
    size_t start = from < 0 ? 0 : size_t(from);
    size_t drive = s.find(":\\");
    if (from < 6 && drive != string::npos) start = drive + 2;
    for (size_t i = start; i < s.size(); ++i)
        if (std::strchr("<>:|?*()", s[i])) s[i] = ' ';
    DString::operator=(s.c_str());
}

void TStringNomFitx::Normalize() {
    string out;
    for (char c : string(c_str()))
        if (!std::strchr("\\/:*?\"<>|", c)) out += c;
    DString::operator=(out.c_str());
}

// ======================================================================================
// Comparison and wildcards
// ======================================================================================

bool NomFitxIguales(const char* a, const char* b) {
    string x = WithoutFinalSlash(a ? a : "");
    string y = WithoutFinalSlash(b ? b : "");
    return x.size() == y.size() && IgualesCI(x, y);
}

bool Verifica_Pertenencia_Windcards_2(const char* pattern_in, const char* name_in) {
    string pattern = pattern_in ? pattern_in : "";
    string name = name_in ? name_in : "";
    size_t star = pattern.find('*');
    if (star == string::npos) return IgualesCI(pattern, name);
    if (pattern == "*") return true;
    string prefix = pattern.substr(0, star);
    string suffix = pattern.substr(star + 1);
    if (name.size() < prefix.size() || !EmpiezaCI(name, prefix)) return false;
    if (name.size() < prefix.size() + suffix.size()) return false;
    if (!IgualesCI(name.substr(name.size() - suffix.size()), suffix)) return false;
    return name.find_first_of("/\\", prefix.size()) == string::npos;
}

// Splits at the last '.' when it is past the first character.
static void SeparaBaseExt(const string& s, string& base, string& ext) {
    size_t dot = s.rfind('.');
    if (dot == string::npos || dot == 0) {
        base = s;
        ext.clear();
    } else {
        base = s.substr(0, dot);
        ext = s.substr(dot + 1);
    }
}

bool Verifica_Pertenencia_Windcards(const char* pattern, const char* name) {
    string pbase, pext, nbase, next;
    SeparaBaseExt(pattern ? pattern : "", pbase, pext);
    SeparaBaseExt(name ? name : "", nbase, next);
    return Verifica_Pertenencia_Windcards_2(pbase.c_str(), nbase.c_str()) &&
           Verifica_Pertenencia_Windcards_2(pext.c_str(), next.c_str());
}
