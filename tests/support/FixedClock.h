// The fixed time tests give the log's clock: 2020-04-22 17:38:05.
//
//   RegistraGPS.SetClock(dltest::FixedLogTime);
#pragma once

#include <ctime>

namespace dltest {

inline std::tm FixedLogTime() {
    std::tm tm{};
    tm.tm_year = 2020 - 1900;
    tm.tm_mon = 3;
    tm.tm_mday = 22;
    tm.tm_hour = 17;
    tm.tm_min = 38;
    tm.tm_sec = 5;
    return tm;
}

} // namespace dltest
