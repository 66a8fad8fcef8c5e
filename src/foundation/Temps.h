// Calendar time kit: a broken-down date and time (TTemps, of the kinds TTempsUTC and
// TTempsLocal), seconds since 1970 (TTemps64_UTC) and a duration (TDifTemps). Values, no
// sharing between threads. "Now" comes from the process-wide clock (ClockITV, Threads.h).
#pragma once

#include "foundation/DString.h"

#include <cstdint>
#include <ctime>

// A signed duration in seconds.
class TDifTemps {
public:
    TDifTemps() = default;
    explicit TDifTemps(double seconds) : segundos(seconds) {}
    TDifTemps& operator+=(const TDifTemps& o) {
        segundos += o.segundos;
        return *this;
    }
    TDifTemps& operator-=(const TDifTemps& o) {
        segundos -= o.segundos;
        return *this;
    }
    double segundos = 0;
};

// Seconds since 1970-01-01 00:00:00 UTC.
class TTemps64_UTC {
public:
    TTemps64_UTC() = default;
    explicit TTemps64_UTC(double seconds) : segundos(seconds) {}
    void Set_Ahora(); // now, in whole seconds
    double segundos = 0;
};

// A broken-down date and time. All fields 0 is the null time (Es_NULL). Copying, comparing and
// arithmetic treat the two kinds alike; nothing converts between them.
class TTemps {
public:
    // Month names by month number: "NUL" (0) .. "DEC" (12), "XX1" (13), "XX2" (14).
    static const char* const kNombresMes[15];
    // Days in the month (1..12) of the year; every year divisible by 4 is a leap year.
    static int DiasMes(int month, int year);

    TTemps() = default;
    // A year of 0..99 is two digits: above 49 adds 1900, otherwise 2000.
    TTemps(int year, int month, int day, int hour = 0, int minute = 0, float second = 0);
    TTemps(const TTemps&) = default;
    TTemps& operator=(const TTemps&) = default;
    virtual ~TTemps() = default;
    virtual void ParaSerPolimorfico() {}

    bool Es_NULL() const;
    void Lee_time_t(time_t t);        // as UTC, whole seconds
    void SetSegs1970(double seconds); // as UTC, with the fraction
    double Segs1970() const;          // the fields read as UTC; 0 for the null time
    // Carries overflowing seconds, minutes, hours, months and days upward.
    void Normalizate();

    // Arithmetic through seconds since 1970 (the null time counts as 1970-01-01 00:00:00).
    TTemps& operator+=(const TDifTemps& d);
    TTemps& operator-=(const TDifTemps& d);
    TTemps operator+(const TDifTemps& d) const;

    // Field by field: year, month, day, hour, minute, seconds.
    bool operator<(const TTemps& o) const { return Compara(o) < 0; }
    bool operator>(const TTemps& o) const { return Compara(o) > 0; }
    bool operator<=(const TTemps& o) const { return Compara(o) <= 0; }
    bool operator>=(const TTemps& o) const { return Compara(o) >= 0; }
    bool operator==(const TTemps& o) const { return Compara(o) == 0; }
    bool operator!=(const TTemps& o) const { return Compara(o) != 0; }
    int Compara(const TTemps& o) const;

    // Text forms; each replaces out and returns it.
    DString& A_str_aaaa_mm_dd(DString& out) const; // 2020-03-25
    // Hours, minutes, seconds, thousandths, each when asked; ':' between them with `separators`.
    DString& A_str_Hora(DString& out, bool hours = true, bool minutes = true, bool seconds = true,
                        bool millis = false, bool separators = true) const;
    // 2020-03-25 14:07:09 (a separator other than ':' replaces each ':').
    DString& A_str_aaaa_mm_dd_hora(DString& out, bool with_seconds = true, char separator = ':') const;
    DString& A_str_dd_mm_aaaa(DString& out) const;      // 05-03-2019
    DString& A_str_dd_mm_aaaa_hora(DString& out) const; // 05-03-2019   14:07:09
    DString& A_str_dd_mmm_aa(DString& out) const;       // 05-MAR-19 (a month outside 0..14: "???")
    DString& A_str_dd_mmm_aa__hora(DString& out) const; // 05-MAR-19 14:07:09

    // Readers of untrusted text: true when accepted. Fields read before a failure keep their
    // new values. Nothing is read past the end of the text.
    bool Lee_Fecha_aaaammdd(const CDString& text);       // "20200325"
    bool Lee_Fecha_aaaammddhhmmss(const CDString& text); // "20200325140709"
    bool Lee_Fecha_mmm_aa(const CDString& text);         // "05-MAR-19"
    bool Lee_Hora(const CDString& text);                 // "14:07:09.5", "-5:30"
    bool Lee_Fecha_mmm_Hora(const CDString& text);       // "05-MAR-19 14:07:09"

    int32_t dia = 0;    // 1..31
    int32_t mes = 0;    // 1..12
    int32_t anyo = 0;   // full year
    int32_t hora = 0;   // 0..23
    int32_t minuto = 0; // 0..59
    float segundos = 0; // 0 up to 60, with the fraction

protected:
    void SetFromTm(const std::tm& tm);
};

// A time on the UTC clock.
class TTempsUTC : public TTemps {
public:
    using TTemps::TTemps;
    TTempsUTC() = default;
    TTempsUTC(const TTemps& t) : TTemps(t) {}
    void Set_Ahora(); // now as UTC, with the fraction of the second
    TTempsUTC operator+(const TDifTemps& d) const { return TTempsUTC(TTemps::operator+(d)); }
};

// A time on the computer's local wall clock.
class TTempsLocal : public TTemps {
public:
    using TTemps::TTemps;
    TTempsLocal() = default;
    TTempsLocal(const TTemps& t) : TTemps(t) {}
    void Set_Ahora(); // now in the local time zone, whole seconds
    TTempsLocal operator+(const TDifTemps& d) const { return TTempsLocal(TTemps::operator+(d)); }
};
