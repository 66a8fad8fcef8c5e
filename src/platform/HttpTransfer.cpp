#include "platform/HttpTransfer.h"

#include "foundation/DString.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

namespace {

std::once_flag g_curlInit;
std::mutex g_caMutex;
std::string g_extraCAFile;

// Read-only default authorities folder of this libcurl build ("/etc/ssl/certs" on Debian).
std::string DefaultCAPath() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info && info->age >= CURLVERSION_SEVENTH && info->capath && *info->capath) return info->capath;
    return "/etc/ssl/certs";
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower(static_cast<unsigned char>(text[i])) != tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' || text[e - 1] == '\n'))
        --e;
    return text.substr(b, e - b);
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexDigitValue(text[i + 1]), lo = HexDigitValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// A server-given name is used as a file name by callers: keep only a plain last component.
std::string SafeFileName(std::string name) {
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name = name.substr(cut + 1);
    name.erase(
        std::remove_if(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
        name.end());
    if (name == "." || name == "..") name.clear();
    return name;
}

// filename*=UTF-8''a%20b wins over filename="a b" (RFC 6266).
std::string NameFromDisposition(const std::string& v) {
    std::string plain, extended;
    size_t i = 0;
    while (i < v.size()) {
        while (i < v.size() && (v[i] == ';' || v[i] == ' ' || v[i] == '\t'))
            ++i;
        size_t nameStart = i;
        while (i < v.size() && v[i] != '=' && v[i] != ';')
            ++i;
        std::string name = Trim(v.substr(nameStart, i - nameStart));
        std::string value;
        if (i < v.size() && v[i] == '=') {
            ++i;
            while (i < v.size() && (v[i] == ' ' || v[i] == '\t'))
                ++i;
            if (i < v.size() && v[i] == '"') {
                for (++i; i < v.size() && v[i] != '"'; ++i) {
                    if (v[i] == '\\' && i + 1 < v.size()) ++i;
                    value += v[i];
                }
                while (i < v.size() && v[i] != ';')
                    ++i;
            } else {
                size_t start = i;
                while (i < v.size() && v[i] != ';')
                    ++i;
                value = Trim(v.substr(start, i - start));
            }
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(tolower(c)); });
        if (name == "filename") {
            plain = value;
        } else if (name == "filename*") {
            size_t q = value.find("''");
            extended = PercentDecode(q == std::string::npos ? value : value.substr(q + 2));
        }
    }
    return SafeFileName(!extended.empty() ? extended : plain);
}

std::string NameFromUrl(const std::string& url) {
    std::string path = url;
    size_t cut = path.find_first_of("?#");
    if (cut != std::string::npos) path = path.substr(0, cut);
    size_t scheme = path.find("://");
    size_t slash = path.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (slash == std::string::npos) return std::string();
    return SafeFileName(PercentDecode(path.substr(path.find_last_of('/') + 1)));
}

} // namespace

void Http_GlobalInit() {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void Http_SetExtraCAFile(const std::string& pemFile) {
    std::lock_guard<std::mutex> hold(g_caMutex);
    g_extraCAFile = pemFile;
}

std::string Http_GetExtraCAFile() {
    std::lock_guard<std::mutex> hold(g_caMutex);
    return g_extraCAFile;
}

std::string THttpTransfer::HostOf(const std::string& url) {
    size_t scheme = url.find("://");
    size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = host.rfind('@'); // never log credentials written into an address
    if (at != std::string::npos) host = host.substr(at + 1);
    return host;
}

// Everything the libcurl callbacks of one Perform need.
struct THttpTransfer::Context {
    CURL* easy = nullptr;
    THttpReceiver* receiver = nullptr;
    THttpBodySource* source = nullptr;
    THttpResponse* response = nullptr;
    bool started = false;   // OnResponse was called
    bool cancelled = false; // the receiver asked to stop
    bool aborted = false;   // the receiver refused
    bool sourceFailed = false;

    void FillResponse() {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response->status = status;
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) length = -1;
        response->contentLength = length;
        char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        if (effective) response->effectiveUrl = effective;
        if (response->suggestedName.empty()) response->suggestedName = NameFromUrl(response->effectiveUrl);
    }

    bool Start() {
        if (started) return true;
        started = true;
        FillResponse();
        if (!receiver->OnResponse(*response)) {
            aborted = true;
            return false;
        }
        return true;
    }

    // A redirect that curl is about to follow: its headers and body are not the answer.
    bool IsRedirectBeingFollowed() {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (status < 300 || status > 399) return false;
        char* next = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &next);
        return next != nullptr;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        Context& ctx = *static_cast<Context*>(self);
        size_t length = size * count;
        std::string line(data, length);
        if (StartsWithNoCase(line, "HTTP/")) {
            // A new answer (a redirect or an interim answer came before): forget the last one's fields.
            ctx.response->contentType.clear();
            ctx.response->contentRange.clear();
            ctx.response->suggestedName.clear();
            return length;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) return length;
        std::string name = line.substr(0, colon);
        std::string value = Trim(line.substr(colon + 1));
        if (StartsWithNoCase(name, "content-type") && name.size() == 12) {
            ctx.response->contentType = Trim(value.substr(0, value.find(';')));
        } else if (StartsWithNoCase(name, "content-range") && name.size() == 13) {
            ctx.response->contentRange = value;
        } else if (StartsWithNoCase(name, "content-disposition") && name.size() == 19) {
            ctx.response->suggestedName = NameFromDisposition(value);
        }
        return length;
    }

    static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
        Context& ctx = *static_cast<Context*>(self);
        size_t length = size * count;
        if (!ctx.started && ctx.IsRedirectBeingFollowed()) return length;
        if (ctx.receiver->IsCancelled()) {
            ctx.cancelled = true;
            return CURL_WRITEFUNC_ERROR;
        }
        if (!ctx.Start()) return CURL_WRITEFUNC_ERROR;
        if (length > 0 && !ctx.receiver->OnData(data, length)) {
            ctx.aborted = true;
            return CURL_WRITEFUNC_ERROR;
        }
        return length;
    }

    static size_t OnRead(char* buffer, size_t size, size_t count, void* self) {
        Context& ctx = *static_cast<Context*>(self);
        long got = ctx.source->Read(buffer, size * count);
        if (got < 0) {
            ctx.sourceFailed = true;
            return CURL_READFUNC_ABORT;
        }
        return static_cast<size_t>(got);
    }

    static int OnSeek(void* self, curl_off_t offset, int origin) {
        Context& ctx = *static_cast<Context*>(self);
        if (offset == 0 && origin == SEEK_SET && ctx.source->Rewind()) return CURL_SEEKFUNC_OK;
        return CURL_SEEKFUNC_CANTSEEK;
    }
};

THttpTransfer::THttpTransfer() {
    Http_GlobalInit();
}

THttpTransfer::~THttpTransfer() = default;

void THttpTransfer::SetPostBody(const std::string& body) {
    post_ = true;
    postBody_ = body;
}

THttpTransfer::EResult THttpTransfer::Perform(THttpReceiver& receiver) {
    response_ = THttpResponse();
    errorText_.clear();

    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
        errorText_ = "Cannot start the HTTP request: out of memory";
        return Failed;
    }

    Context ctx;
    ctx.easy = easy;
    ctx.receiver = &receiver;
    ctx.source = source_;
    ctx.response = &response_;

    char errorBuffer[CURL_ERROR_SIZE];
    errorBuffer[0] = 0;
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    std::string extraCA = Http_GetExtraCAFile();
    std::string capath = DefaultCAPath();
    if (!extraCA.empty()) {
        // The extra file is read together with the system's hashed folder, so both are trusted.
        curl_easy_setopt(easy, CURLOPT_CAINFO, extraCA.c_str());
        curl_easy_setopt(easy, CURLOPT_CAPATH, capath.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, limits_.connectSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, limits_.idleSeconds);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, 0L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Downloader2");
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    if (decodeContent_) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Context::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &ctx);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Context::OnWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &ctx);

    if (source_) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Context::OnRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, &ctx);
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Context::OnSeek);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, &ctx);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(source_->Size()));
    } else if (post_) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody_.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody_.size()));
    } else if (resumeFrom_ > 0) {
        curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resumeFrom_));
    }

    curl_slist* headerList = nullptr;
    for (const std::string& line : headers_)
        headerList = curl_slist_append(headerList, line.c_str());
    if (headerList) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);

    curl_multi_add_handle(multi, easy);
    int running = 1;
    CURLMcode mc = CURLM_OK;
    for (;;) {
        mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK || running == 0 || ctx.cancelled || ctx.aborted) break;
        if (receiver.IsCancelled()) {
            ctx.cancelled = true;
            break;
        }
        mc = curl_multi_poll(multi, nullptr, 0, limits_.sliceMs, nullptr);
        if (mc != CURLM_OK) break;
    }

    CURLcode code = CURLE_OK;
    bool done = false;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
            code = msg->data.result;
            done = true;
        }
    }

    EResult result = Ok;
    if (ctx.cancelled) {
        result = Cancelled;
        errorText_ = "Operation canceled";
    } else if (ctx.aborted) {
        result = Aborted;
    } else if (mc != CURLM_OK) {
        result = Failed;
        errorText_ = curl_multi_strerror(mc);
    } else if (!done) {
        result = Failed;
        errorText_ = "The HTTP request ended without an answer";
    } else if (code == CURLE_RANGE_ERROR) {
        ctx.FillResponse();
        result = RangeRefused;
        errorText_ = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
    } else if (code != CURLE_OK) {
        ctx.FillResponse();
        result = Failed;
        std::string detail = errorBuffer;
        errorText_ = curl_easy_strerror(code);
        if (ctx.sourceFailed)
            errorText_ += ": the file being sent could not be read";
        else if (!detail.empty())
            errorText_ += ": " + detail;
    } else if (!ctx.Start()) {
        result = Aborted; // the receiver refused an answer without body
    }

    curl_multi_remove_handle(multi, easy);
    curl_slist_free_all(headerList);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    return result;
}
