#include "foundation/Temps.h"

#include "foundation/Threads.h"

#include <cmath>
#include <cstring>

const char* const TTemps::kNombresMes[15] = {"NUL", "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL",
                                             "AUG", "SEP", "OCT", "NOV", "DEC", "XX1", "XX2"};

namespace {

// Largest magnitude of seconds since 1970 that is broken down (about 31 million years).
const double kMaxSegs = 1e15;

bool EsDigito(char c) {
    return c >= '0' && c <= '9';
}

// A fixed-width field: the bytes from..from+count-1 of the text, blanks first, then only digits
// (at least one). False when the field runs past the end or holds anything else.
bool CampoFijo(const CDString& text, int from, int count, int& value) {
    int len = text.Length();
    if (from < 0 || count <= 0 || from > len - count) return false;
    const char* s = text.c_str();
    int i = from, end = from + count;
    while (i < end && s[i] == ' ')
        i++;
    if (i == end) return false;
    long long v = 0;
    for (; i < end; i++) {
        if (!EsDigito(s[i])) return false;
        if (v < 1000000000LL) v = v * 10 + (s[i] - '0');
    }
    value = static_cast<int>(v < 1000000000LL ? v : 1000000000LL);
    return true;
}

// The unsigned decimal number that begins at `from`, read until the first non-digit, the end of
// the text or max_chars bytes (max_chars < 0: no limit). Needs at least one digit. Saturates.
bool NumeroInicial(const CDString& text, int from, int max_chars, int& value, int* next = nullptr) {
    int len = text.Length();
    if (from < 0 || from >= len) return false;
    int end = max_chars < 0 || max_chars > len - from ? len : from + max_chars;
    const char* s = text.c_str();
    int i = from;
    long long v = 0;
    for (; i < end && EsDigito(s[i]); i++)
        if (v < 1000000000LL) v = v * 10 + (s[i] - '0');
    if (i == from) return false;
    value = static_cast<int>(v < 1000000000LL ? v : 1000000000LL);
    if (next) *next = i;
    return true;
}

// Digits, optionally followed by '.' and more digits, beginning at `from`.
bool DecimalInicial(const CDString& text, int from, double& value) {
    int ent = 0, next = from;
    if (!NumeroInicial(text, from, -1, ent, &next)) return false;
    double v = ent;
    const char* s = text.c_str();
    int len = text.Length();
    if (next < len && s[next] == '.') {
        double scale = 0.1;
        for (int i = next + 1; i < len && EsDigito(s[i]); i++, scale /= 10)
            v += (s[i] - '0') * scale;
    }
    value = v;
    return true;
}

int DosDigitosAnyo(int year) {
    return year < 51 ? year + 2000 : year + 1900;
}

} // namespace

int TTemps::DiasMes(int month, int year) {
    static const int kDias[13] = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 31;
    if (month == 2 && year % 4 == 0) return 29;
    return kDias[month];
}

TTemps::TTemps(int year, int month, int day, int hour, int minute, float second)
    : dia(day), mes(month), anyo(year), hora(hour), minuto(minute), segundos(second) {
    if (anyo >= 0 && anyo <= 99) anyo += anyo > 49 ? 1900 : 2000;
}

bool TTemps::Es_NULL() const {
    return hora == 0 && minuto == 0 && dia == 0 && mes == 0 && anyo == 0 && std::fabs(segundos) < 0.001f;
}

void TTemps::SetFromTm(const std::tm& tm) {
    anyo = tm.tm_year + 1900;
    mes = tm.tm_mon + 1;
    dia = tm.tm_mday;
    hora = tm.tm_hour;
    minuto = tm.tm_min;
    segundos = static_cast<float>(tm.tm_sec);
}

void TTemps::Lee_time_t(time_t t) {
    std::tm tm{};
    if (gmtime_r(&t, &tm))
        SetFromTm(tm);
    else
        *this = TTemps();
}

void TTemps::SetSegs1970(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxSegs) seconds = 0;
    double whole = std::floor(seconds);
    Lee_time_t(static_cast<time_t>(whole));
    segundos += static_cast<float>(seconds - whole);
}

double TTemps::Segs1970() const {
    if (Es_NULL()) return 0;
    double whole = std::isfinite(segundos) ? std::floor(segundos) : 0;
    std::tm tm{};
    tm.tm_year = anyo - 1900;
    tm.tm_mon = mes - 1;
    tm.tm_mday = dia;
    tm.tm_hour = hora;
    tm.tm_min = minuto;
    tm.tm_sec = static_cast<int>(whole);
    time_t t = timegm(&tm);
    return static_cast<double>(t) + (static_cast<double>(segundos) - whole);
}

void TTemps::Normalizate() {
    if (!std::isfinite(segundos) || segundos >= 1e9f) segundos = 0;
    if (segundos >= 60) {
        int m = static_cast<int>(std::floor(segundos / 60));
        minuto += m;
        segundos -= static_cast<float>(m) * 60;
    }
    if (minuto >= 60) {
        hora += minuto / 60;
        minuto %= 60;
    }
    if (hora > 23) {
        dia += hora / 24;
        hora %= 24;
    } else if (hora < 0) {
        int borrow = (-hora + 23) / 24;
        dia -= borrow;
        hora += borrow * 24;
    }
    if (mes > 12) {
        anyo += (mes - 1) / 12;
        mes = (mes - 1) % 12 + 1;
    }
    if (mes < 1 || mes > 12) return; // the null time, or a month nothing can carry
    // Every 48 consecutive months hold 1461 days under the leap-year rule used here.
    if (dia > 1461) {
        int cycles = (dia - 1) / 1461;
        dia -= cycles * 1461;
        anyo += cycles * 4;
    } else if (dia < -1461) {
        int cycles = -dia / 1461;
        dia += cycles * 1461;
        anyo -= cycles * 4;
    }
    while (dia > DiasMes(mes, anyo)) {
        dia -= DiasMes(mes, anyo);
        if (++mes > 12) {
            mes = 1;
            anyo++;
        }
    }
    while (dia < 1) {
        if (--mes < 1) {
            mes = 12;
            anyo--;
        }
        dia += DiasMes(mes, anyo);
    }
}

TTemps& TTemps::operator+=(const TDifTemps& d) {
    SetSegs1970(Segs1970() + d.segundos);
    Normalizate();
    return *this;
}

TTemps& TTemps::operator-=(const TDifTemps& d) {
    SetSegs1970(Segs1970() - d.segundos);
    Normalizate();
    return *this;
}

TTemps TTemps::operator+(const TDifTemps& d) const {
    TTemps r(*this);
    r += d;
    return r;
}

int TTemps::Compara(const TTemps& o) const {
    const int32_t a[5] = {anyo, mes, dia, hora, minuto};
    const int32_t b[5] = {o.anyo, o.mes, o.dia, o.hora, o.minuto};
    for (int i = 0; i < 5; i++)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (segundos == o.segundos) return 0;
    return segundos < o.segundos ? -1 : 1;
}

// ---------------------------------------------------------------------------------------------
// Text forms

namespace {
int SegundosEnteros(float s) {
    return std::isfinite(s) ? static_cast<int>(s) : 0;
}

const char* NombreMes(int month) {
    return month >= 0 && month <= 14 ? TTemps::kNombresMes[month] : "???";
}
} // namespace

DString& TTemps::A_str_aaaa_mm_dd(DString& out) const {
    out.Dsprintf("%d-%02d-%02d", anyo, mes, dia);
    return out;
}

DString& TTemps::A_str_Hora(DString& out, bool hours, bool minutes, bool seconds, bool millis,
                            bool separators) const {
    DString part;
    out = "";
    if (hours) {
        part.Dsprintf("%02d", hora);
        out += part;
        if (separators && (minutes || seconds)) out += ":";
    }
    if (minutes) {
        part.Dsprintf("%02d", minuto);
        out += part;
        if (separators && seconds) out += ":";
    }
    if (seconds) {
        int whole = SegundosEnteros(segundos);
        part.Dsprintf("%02d", whole);
        out += part;
        if (millis) {
            double frac = std::isfinite(segundos) ? static_cast<double>(segundos) - whole : 0;
            int ms = static_cast<int>(std::floor(frac * 1000 + 1e-3));
            if (ms < 0) ms = 0;
            if (ms > 999) ms = 999;
            part.Dsprintf(".%03d", ms);
            out += part;
        }
    }
    return out;
}

DString& TTemps::A_str_aaaa_mm_dd_hora(DString& out, bool with_seconds, char separator) const {
    DString time;
    if (with_seconds)
        time.Dsprintf("%02d:%02d:%02d", hora, minuto, SegundosEnteros(segundos));
    else
        time.Dsprintf("%02d:%02d", hora, minuto);
    if (separator != ':' && separator != 0) time.Sustituye(':', separator);
    A_str_aaaa_mm_dd(out);
    out += " ";
    out += time;
    return out;
}

DString& TTemps::A_str_dd_mm_aaaa(DString& out) const {
    out.Dsprintf("%02d-%02d-%d", dia, mes, anyo);
    return out;
}

DString& TTemps::A_str_dd_mm_aaaa_hora(DString& out) const {
    out.Dsprintf("%02d-%02d-%d   %02d:%02d:%02d", dia, mes, anyo, hora, minuto, SegundosEnteros(segundos));
    return out;
}

DString& TTemps::A_str_dd_mmm_aa(DString& out) const {
    out.Dsprintf("%02d-%s-%02d", dia, NombreMes(mes), (anyo % 100 + 100) % 100);
    return out;
}

DString& TTemps::A_str_dd_mmm_aa__hora(DString& out) const {
    DString time;
    time.Dsprintf(" %02d:%02d:%02d", hora, minuto, SegundosEnteros(segundos));
    A_str_dd_mmm_aa(out);
    out += time;
    return out;
}

// ---------------------------------------------------------------------------------------------
// Readers

bool TTemps::Lee_Fecha_aaaammdd(const CDString& text) {
    if (text.Length() < 8) return false;
    int v;
    if (!CampoFijo(text, 0, 4, v)) return false;
    anyo = v <= 99 ? DosDigitosAnyo(v) : v;
    if (!CampoFijo(text, 4, 2, v)) return false;
    mes = v;
    if (!CampoFijo(text, 6, 2, v)) return false;
    dia = v;
    return dia >= 1 && dia <= 31 && mes >= 1 && mes <= 12;
}

bool TTemps::Lee_Fecha_aaaammddhhmmss(const CDString& text) {
    if (text.Length() <= 13) return false;
    if (!Lee_Fecha_aaaammdd(text)) return false;
    int v;
    if (!CampoFijo(text, 8, 2, v)) return false;
    hora = v;
    if (!CampoFijo(text, 10, 2, v)) return false;
    minuto = v;
    if (!CampoFijo(text, 12, text.Length() - 12, v)) return false;
    segundos = static_cast<float>(v);
    return hora >= 0 && hora <= 23 && minuto >= 0 && minuto <= 59 && v >= 0 && v <= 59;
}

bool TTemps::Lee_Fecha_mmm_aa(const CDString& text) {
    int v;
    if (!CampoFijo(text, 0, 2, v)) return false;
    dia = v;
    mes = 0;
    if (text.Length() < 6) return false;
    DString nombre = text.SubString(3, 6);
    for (int m = 0; m <= 12; m++) {
        if (Dstrcmpi(nombre.c_str(), kNombresMes[m]) == 0) {
            mes = m;
            break;
        }
    }
    if (mes == 0 && Dstrcmpi(nombre.c_str(), kNombresMes[0]) != 0) return false;
    if (!NumeroInicial(text, 7, 5, v)) return false;
    anyo = v;
    if (dia > 0 && mes > 0 && anyo <= 99) anyo = DosDigitosAnyo(anyo);
    return dia <= 31;
}

bool TTemps::Lee_Hora(const CDString& text) {
    const char* s = text.c_str();
    int len = text.Length();
    int i = 0;
    bool negative = false;
    if (i < len && s[i] == '-') {
        negative = true;
        i++;
    }
    while (i < len && (s[i] == ' ' || s[i] == '\t'))
        i++;
    int colon = text.strchr(i, ':');
    if (colon < 0) return false;
    int h, m;
    if (!NumeroInicial(text, i, colon - i, h)) return false;
    hora = negative ? -h : h;
    int second_colon = text.strchr(colon + 1, ':');
    int minutes_end = second_colon < 0 ? len : second_colon;
    if (!NumeroInicial(text, colon + 1, minutes_end - colon - 1, m)) return false;
    minuto = m;
    double sec = 0;
    if (second_colon >= 0 && !DecimalInicial(text, second_colon + 1, sec)) return false;
    segundos = static_cast<float>(sec);
    return hora > -24 && hora < 24 && minuto < 60 && sec < 60;
}

bool TTemps::Lee_Fecha_mmm_Hora(const CDString& text) {
    if (!Lee_Fecha_mmm_aa(text)) return false;
    int space = text.strchr(' ');
    if (space < 0) return false;
    return Lee_Hora(text.SubString(space + 1));
}

// ---------------------------------------------------------------------------------------------
// Now

void TTempsUTC::Set_Ahora() {
    int64_t us = ClockITV().UnixMicros();
    int64_t whole = us / 1000000 - (us % 1000000 < 0 ? 1 : 0);
    Lee_time_t(static_cast<time_t>(whole));
    float with_fraction = segundos + static_cast<float>(static_cast<double>(us - whole * 1000000) / 1e6);
    // 59.9999995 would round to 60.0 in a float: keep the second it belongs to.
    segundos = with_fraction < 60.0f ? with_fraction : std::nextafter(60.0f, 0.0f);
}

void TTempsLocal::Set_Ahora() {
    int64_t us = ClockITV().UnixMicros();
    time_t whole = static_cast<time_t>(us / 1000000 - (us % 1000000 < 0 ? 1 : 0));
    std::tm tm{};
    if (localtime_r(&whole, &tm))
        SetFromTm(tm);
    else
        *this = TTempsLocal();
}

void TTemps64_UTC::Set_Ahora() {
    int64_t us = ClockITV().UnixMicros();
    segundos = static_cast<double>(us / 1000000 - (us % 1000000 < 0 ? 1 : 0));
}
