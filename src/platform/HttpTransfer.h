// One HTTP(S) transfer through libcurl, run to its end on the calling thread.
//
// The transfer layer (transfer/InternetITV.h) builds every request of the program on this class.
// The class knows nothing of files, monitors or logs: the caller's receiver gets the response, the
// body blocks and the cancel question, and decides what they mean.
//
// Fixed rules of every transfer: only http and https (redirects included, at most 10), certificate
// verification on (the system authorities plus the one set with Http_SetExtraCAFile), no signals, no
// content encoding unless the caller asks for it, and an idle limit instead of a total limit: a
// long download that keeps moving is never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Initialises libcurl once for the process. The application calls it at start-up, before it starts
// any thread; every transfer also calls it, so tools and tests need not.
void Http_GlobalInit();

// Adds the certificate authorities of a PEM file to the system's for every later transfer (the
// "CAFile=" configuration value). An empty name removes it. Call before transfers start.
void Http_SetExtraCAFile(const std::string& pemFile);
std::string Http_GetExtraCAFile();

// Limits of one transfer. All are injectable so that tests need not wait minutes.
struct THttpLimits {
    long connectSeconds = 240; // time allowed to connect (DNS, TCP and TLS)
    long idleSeconds = 240;    // the transfer fails when under 1 byte/s moves for this long
    int sliceMs = 1000;        // the longest wait between two cancel checks
};

// What the server answered (the final answer after redirects).
struct THttpResponse {
    long status = 0;            // HTTP status code; 0 when no answer arrived
    int64_t contentLength = -1; // body length announced by the server; -1 when unknown
    std::string contentType;    // "Content-Type" without parameters ("text/html")
    std::string contentRange;   // raw "Content-Range" value, empty when absent
    std::string suggestedName;  // file name from "Content-Disposition", else the URL's last segment
    std::string effectiveUrl;   // the address finally reached
};

// The caller's side of a transfer. Every call happens on the thread that runs Perform.
class THttpReceiver {
public:
    virtual ~THttpReceiver() = default;
    // Called once, before the first body block, or at the end when the answer had no body.
    // Returning false stops the transfer (Perform answers Aborted).
    virtual bool OnResponse(const THttpResponse& response) { return true; }
    // One block of the body. Returning false stops the transfer (Perform answers Aborted).
    virtual bool OnData(const char* data, size_t length) = 0;
    // Polled at least once per limits.sliceMs and before every block; true stops the transfer.
    virtual bool IsCancelled() { return false; }
};

// The body of a streamed upload: read in order, possibly rewound (redirects).
class THttpBodySource {
public:
    virtual ~THttpBodySource() = default;
    virtual int64_t Size() const = 0;
    // Fills up to length bytes; returns the count, 0 at the end, -1 on a read error.
    virtual long Read(char* buffer, size_t length) = 0;
    virtual bool Rewind() = 0;
};

class THttpTransfer {
public:
    enum EResult {
        Ok,          // the server answered and the whole body was delivered (any status code)
        Failed,      // no complete answer: errorText says why
        Cancelled,   // the receiver asked to stop
        Aborted,     // the receiver refused a response or a block
        RangeRefused // a resumed request was answered without the range (curl: "cannot resume")
    };

    THttpTransfer();
    ~THttpTransfer();
    THttpTransfer(const THttpTransfer&) = delete;
    THttpTransfer& operator=(const THttpTransfer&) = delete;

    void SetUrl(const std::string& url) { url_ = url; }
    void SetLimits(const THttpLimits& limits) { limits_ = limits; }
    // One header line "Name: value"; "Name:" alone suppresses a header curl would send.
    void AddHeader(const std::string& line) { headers_.push_back(line); }
    // GET from this byte on (0: the whole body).
    void SetResumeFrom(int64_t offset) { resumeFrom_ = offset; }
    // POST of a body held by the caller (copied).
    void SetPostBody(const std::string& body);
    // POST of a streamed body; the source must outlive Perform.
    void SetPostSource(THttpBodySource* source) { source_ = source; }
    // Ask for compressed answers and decode them (service answers only, never file downloads).
    void SetDecodeContent(bool on) { decodeContent_ = on; }

    EResult Perform(THttpReceiver& receiver);

    const THttpResponse& Response() const { return response_; }
    // Empty after Ok; otherwise the reason, as a person can read it.
    const std::string& ErrorText() const { return errorText_; }
    // Host name of an address, for log lines that must not carry the query.
    static std::string HostOf(const std::string& url);

private:
    struct Context;
    std::string url_;
    THttpLimits limits_;
    std::vector<std::string> headers_;
    int64_t resumeFrom_ = 0;
    bool post_ = false;
    std::string postBody_;
    THttpBodySource* source_ = nullptr;
    bool decodeContent_ = false;
    THttpResponse response_;
    std::string errorText_;
};
