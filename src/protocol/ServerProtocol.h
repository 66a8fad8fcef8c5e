// The web service's request and answer formats: the service URLs, the enciphered "par=" request,
// the deciphering of answers, the recognition of an error answer, and the forms in which requests
// and answers may appear in the log (never a password, token or session id in clear).
//
// The process-wide values below are set at start-up on the main thread and only read afterwards.
// Every function is safe from any thread.
#pragma once

#include "foundation/DString.h"

// The key text of the web-service requests and answers and of the install parameters: 31
// printable characters shared with the service (statistics use the same text).
extern const char appkey[];
// The application's version number as decimal text ("149").
extern DString downloader_version;
// Host (with an optional ":port") of the maker's web service; "WebServerUrl=" replaces it.
extern DString server_www_com;
extern const char* const kDefaultServerWwwCom;

// The maker's URL table; this product uses entries 37 (web service), 38 (support upload) and 33
// (usage statistics). Other entries give the empty text.
DString GetUrlQuillWeb(int entry, const CDString& host);
// The same, written to the log.
DString GetUrlQuillWebDownloader(bool flag, int entry, const CDString& host);

// Number of random characters of the nonce that ends every request.
constexpr int kRequestNonceLength = 6;

// The plain text of a request: query + "&version=" + downloader_version +
// "&Device_product=DownloaderOS&ptf=mac&lang=en&devid=" + device id + "&" + nonce.
DString RequestPlainText(const CDString& query, const CDString& device_id, const CDString& nonce);
// The identifier sent as "devid" when a request names no device: a salted hash of the machine id.
DString ThisComputerId();
// The whole request URL for the host: entry 37 + "par=" + the plain text enciphered with
// "TwoFish" and appkey (upper-case hex). A fresh nonce is drawn; device_id empty means this
// computer. False (url empty) when the text could not be enciphered.
bool BuildRequestUrl(const CDString& query, const CDString& device_id, const CDString& host, DString& url);

// Deciphers an answer ("TwoFish", appkey). On failure the answer is the raw text as it came.
bool DecipherAnswer(const CDString& raw, DString& answer);

// Whether an answer is an error answer (CheckErrorResp of the session), with its error text:
// - the empty answer: "Txt.MgrComm.Err.DownloadData.NoAnswer", recorded as 73121;
// - a JSON object: only a non-empty "errorMsg" containing "ERROR" counts, and the error text is
//   that text from its first "ERROR" on (other members are data: a product called "ERROR maps"
//   is no error);
// - any other text containing "ERROR": the text from its first "ERROR", cut at the first '}' and
//   then at the first '"'.
bool CheckErrorAnswer(const CDString& answer, DString& error);

// A request's query for the log: the values of "pwd", "Token" and "sessionId" are masked.
DString QueryForLog(const CDString& query);
// An answer for the log: a JSON answer without its "SessionId", "Token" and "Pwd" members (at any
// depth); any other text as it is.
DString AnswerForLog(const CDString& answer);
// An address for the log without its query, which may carry credentials.
DString UrlForLog(const CDString& url);

// An environment folder of the application, with a final '/': the folder name inside the folder
// "Downloader_Env" beside the application data folder ("qiwdata" holds the downloads,
// "qiwlocale" the message catalogue). The application data folder is the registered one, else
// the per-user data folder + "/Downloader2".
DString GetEnvironmentDemandedPath(const char* name);
