// The server session: TManagerComm asks the maker's web service for the login check and the list
// of products to install (one enciphered "par=" request each, fetched over HTTPS with three tries),
// and TServerSession keeps what the rest of the program works on (session id, token, user, product
// list), with the product request's one retry after 7 s.
//
// Requests block the calling thread. Two requests must not run at once on one TManagerComm (they
// share the last connection error). Every wait goes through Sleep (foundation/Threads.h), so tests
// install a fake clock. Failures fill the caller's TStringErr with the catalogue text the user
// reads and record their code in the last-error record.
#pragma once

#include "foundation/DString.h"
#include "foundation/NomFitx.h"
#include "foundation/StringErr.h"
#include "foundation/Vectors.h"
#include "protocol/Product.h"

#include <atomic>
#include <functional>

class CJSON;
class TMonitorProc;

class TManagerComm {
public:
    // Makes sure a folder exists (creating it when missing); true when it can be used.
    using TCheckFolderFn = std::function<bool(const TStringNomFitx& folder)>;

    // The download folder: `folder`, or the environment folder "qiwdata" when empty. When it
    // cannot be had, "Downloader/qiwdata" at the root of the same volume (the user's home for a
    // local folder) is tried; when that fails too the first folder stays and NoTempFolder() is
    // set. check: null for the default (create, three tries 300/400 ms apart).
    explicit TManagerComm(const TStringNomFitx& folder = TStringNomFitx(), TCheckFolderFn check = nullptr);
    virtual ~TManagerComm();
    TManagerComm(const TManagerComm&) = delete;
    TManagerComm& operator=(const TManagerComm&) = delete;

    // Hands "Txt.MgrComm.Transferred1" and "Txt.MgrComm.Transferred2" to the transfer layer as its
    // progress formats.
    void SetIdiomaMsgs();

    // The request URL of a query for server_www_com (see protocol/ServerProtocol.h); info may be
    // null (this computer's identifier). False when it could not be built.
    bool GetURLParams(const DString& query, DString& url, const TURLParamsInfo* info = nullptr);
    // Fetches data.url into data.resp: up to three attempts with 1000 ms after each failed one. With
    // decipher, the answer is deciphered and an error answer (CheckErrorResp) fails the attempt,
    // except "ERROR 2526", which is final: the loop ends at once and reports success with that
    // message in err. A failed call leaves the message in data.resp when the answer was empty.
    bool FuncDownloadData(TManagerCommData& data, TStringErr& err, TMonitorProc* monitor,
                          bool decipher = true);
    // True when the answer is an error answer; its error text goes to error.
    static bool CheckErrorResp(const DString& resp, DString& error);

    // "func=LOGINCHECK". On success token and session id are the service's.
    bool Server_Login_Check(const DString& user, const DString& password, DString& token, DString& session_id,
                            const DString& second, TStringErr& err, TMonitorProc* monitor);
    // "func=PRODUCTSTOINSTALL". list is emptied first; an answer without "Products" succeeds with
    // an empty list.
    bool Server_User_Products(const DString& session_id, const DString& token, TUserInfo& user,
                              VectorS<TProduct>& list, const DString& second, TStringErr& err,
                              TMonitorProc* monitor);
    // Appends the products of a "Products" array that the rules keep (protocol/Product.h); sets
    // HasUpdateableFiles when a kept file carries a year version. Always true.
    bool GetProductList(VectorS<TProduct>& list, const CJSON* products);
    // True when name was not seen yet (and records it).
    static bool FileDescargarManageLista(const DString& name, VectorS<DString>& seen);
    // Marks the link updateable (and this session) when file carries a year version.
    bool CheckUpdateableFile(TProductLink& link, const DString& file);
    static bool IsUpdateableFile(const DString& file);
    static bool GetInfoUpdateableFile(const DString& file, DString& suffix, DString& base,
                                      DString& base_no_hd);

    const TStringNomFitx& TempDataPath() const { return temp_data_path_; } // with a final '/'
    bool NoTempFolder() const { return no_temp_folder_; }
    bool HasUpdateableFiles() const { return has_updateable_; }
    // The transfer layer's detail of the last failed fetch.
    const DString& LastConnError() const { return last_conn_error_; }

    // Options read by the installation.
    bool install_optional = true;
    bool install_option2 = false;
    // Set while a product is being installed (read by the window's close guard on the main thread).
    std::atomic<bool> work_in_progress{false};

private:
    TStringNomFitx temp_data_path_;
    bool has_updateable_ = false;
    bool no_temp_folder_ = false;
    DString last_conn_error_;
};

// The session data of the utilities object and its product request (the widget-free part of
// TManagerUtils_base::GetProducts). One thread at a time.
class TServerSession {
public:
    TManagerComm* managerComm = nullptr; // not owned
    DString user;                        // the e-mail used to log in
    DString sessionId;
    DString token;
    DString idioma = "en"; // the second request text
    TUserInfo userInfo;
    VectorS<TProduct> products;

    // Server_User_Products with sessionId and token; on failure (unless the monitor was stopped)
    // waits 7000 ms, resets the last-error record and tries once more. On success the new list
    // replaces products and the user information is stored.
    bool GetProducts(TStringErr& err, TMonitorProc* monitor = nullptr);
};
