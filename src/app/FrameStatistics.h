// The usage-statistics calls the main frame makes: the "DownloaderUpdate" event at the first run of
// a new version, the "InfoUser" event and the end of the statistics session at close, and their
// trace blocks. The statistics client registers an implementation; until one is registered the
// calls do nothing and UseStatusInformation answers false. Window thread.
#pragma once

#include "foundation/DString.h"

#include <cstdint>

struct TInfoUserData {
    DString app_version, os, os_type, os_edition, os_bld_version;
    int num_devices = 0;
    int64_t type_devices = 0;
    int language_code = 58;
    DString language;
    int num_retries = 0;
    DString error_text;
    int error_code = 0;
    DString error_file;
    DString error_version; // "0" for an error-free run, else the application version
};

class TFrameStatistics {
public:
    virtual ~TFrameStatistics() = default;
    // Whether statistics are in use for the event (logs the answer).
    virtual bool UseStatusInformation(const char* event_name);
    virtual void DownloaderUpdate(const DString& os, const DString& os_type, const DString& os_edition,
                                  const DString& os_bld_version, const DString& old_version,
                                  const DString& new_version, bool new_installation) {}
    virtual void ShowDownloaderUpdate(const DString& old_version, const DString& new_version,
                                      bool new_installation) {}
    virtual void InfoUser(const TInfoUserData& data) {}
    virtual void SendSessionEnd() {}
    virtual void ShowInfoUser(const TInfoUserData& data) {}
};

// The registered implementation (a do-nothing one until the statistics client registers).
TFrameStatistics& FrameStatistics();
// Registers stats (null: back to the do-nothing one); the caller keeps it alive while registered.
void SetFrameStatistics(TFrameStatistics* stats);
