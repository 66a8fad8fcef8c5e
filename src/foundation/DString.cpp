#include "foundation/DString.h"
#include "foundation/Vectors.h"

#include <utf8proc.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <new>
#include <string>
#include <vector>

uint16_t DUString::default_codepage = 65001;

namespace {

constexpr size_t kHeader = sizeof(DStringHeader);
constexpr int kMaxCapacity = INT_MAX - 64;

// The C locale, for number formatting and parsing that must not follow the user's locale.
locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

bool IsSpace(char c) {
    return c == ' ';
}
bool IsSpaceTab(char c) {
    return c == ' ' || c == '\t';
}
bool IsCrLf(char c) {
    return c == '\r' || c == '\n';
}
bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsWordByte(unsigned char c) {
    return IsAsciiAlnum(c) || c == '_';
}

int SafeLen(const char* s) {
    return s ? static_cast<int>(std::strlen(s)) : 0;
}

// Transforms UTF-8 text code point by code point, remembering for every output byte the offset
// of the input byte it came from (so positions found in the output map back to the input).
// Invalid bytes pass through unchanged.
template <class Map>
std::string MapUtf8(const char* s, int len, Map map, std::vector<int>* offsets = nullptr) {
    std::string out;
    out.reserve(static_cast<size_t>(len) + 8);
    if (offsets) offsets->clear();
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(s);
    int i = 0;
    while (i < len) {
        utf8proc_int32_t cp = -1;
        utf8proc_ssize_t n = utf8proc_iterate(p + i, len - i, &cp);
        size_t before = out.size();
        if (n <= 0 || cp < 0) {
            out.push_back(s[i]);
            n = 1;
        } else {
            map(cp, out);
        }
        if (offsets)
            for (size_t k = before; k < out.size(); k++)
                offsets->push_back(i);
        i += static_cast<int>(n);
    }
    if (offsets) offsets->push_back(len);
    return out;
}

void PutCodePoint(utf8proc_int32_t cp, std::string& out) {
    utf8proc_uint8_t buf[4];
    utf8proc_ssize_t n = utf8proc_encode_char(cp, buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

// Simple upper-case mapping. U+00DF has none (its full mapping is "SS"); the library maps it to
// U+1E9E, which is not the simple mapping.
utf8proc_int32_t ToUpper(utf8proc_int32_t cp) {
    return cp == 0xDF ? cp : utf8proc_toupper(cp);
}
void Upper(utf8proc_int32_t cp, std::string& out) {
    PutCodePoint(ToUpper(cp), out);
}
void Lower(utf8proc_int32_t cp, std::string& out) {
    PutCodePoint(utf8proc_tolower(cp), out);
}

// Base letter of an accented character (its canonical decomposition without marks).
void StripAccent(utf8proc_int32_t cp, std::string& out) {
    utf8proc_int32_t dec[8];
    int last_boundclass = 0;
    utf8proc_ssize_t n = utf8proc_decompose_char(
        cp, dec, 8, static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STRIPMARK),
        &last_boundclass);
    if (n <= 0 || n > 8) {
        PutCodePoint(cp, out);
        return;
    }
    for (utf8proc_ssize_t k = 0; k < n; k++)
        PutCodePoint(dec[k], out);
}

std::string UpperCopy(const char* s) {
    return MapUtf8(s, SafeLen(s), Upper);
}

// First code point of s: its byte count (0 for an empty text).
int FirstCodePointLen(const char* s, int len) {
    if (len <= 0) return 0;
    utf8proc_int32_t cp;
    utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s), len, &cp);
    return n > 0 ? static_cast<int>(n) : 1;
}

bool IsLetterCp(utf8proc_int32_t cp) {
    utf8proc_category_t c = utf8proc_category(cp);
    return c >= UTF8PROC_CATEGORY_LU && c <= UTF8PROC_CATEGORY_LO;
}
bool IsAlnumCp(utf8proc_int32_t cp) {
    utf8proc_category_t c = utf8proc_category(cp);
    return (c >= UTF8PROC_CATEGORY_LU && c <= UTF8PROC_CATEGORY_LO) ||
           (c >= UTF8PROC_CATEGORY_ND && c <= UTF8PROC_CATEGORY_NO);
}

// The C library's integer reading, clamped to int.
int ClampInt(long long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

double ParseDouble(const char* s, bool comma_decimal, bool percent) {
    while (IsSpaceTab(*s))
        s++;
    const char* end = nullptr;
    double v = 0;
    if (std::strchr(s, 'e') || std::strchr(s, 'E')) {
        char* e = nullptr;
        v = strtod_l(s, &e, CLocale());
        end = e;
    } else {
        const char* p = s;
        bool neg = false;
        if (*p == '-') {
            neg = true;
            p++;
        }
        while (*p >= '0' && *p <= '9')
            v = v * 10 + (*p++ - '0');
        if (*p == (comma_decimal ? ',' : '.')) {
            p++;
            double scale = 0.1;
            while (*p >= '0' && *p <= '9') {
                v += (*p++ - '0') * scale;
                scale /= 10;
            }
        }
        if (neg) v = -v;
        end = p;
    }
    if (percent && end && *end == '%') v *= 0.01;
    return v;
}

// Fixed-point text of x with p digits after ".", rounded half away from zero, "0" for zero.
// The digits come from the scaled value x * 10^p, so that 2.25 gives "2.3" and not the "2.2" that
// digit-by-digit extraction of a rounded binary fraction would give.
std::string FormatFixed(double x, int p) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
    bool neg = x < 0;
    long double ax = neg ? -static_cast<long double>(x) : static_cast<long double>(x);
    long double scaled = ax * std::pow(10.0L, p);
    std::string out;
    if (scaled + 0.5L < 9.0e18L) {
        auto n = static_cast<unsigned long long>(scaled + 0.5L);
        std::string digits = std::to_string(n);
        if (static_cast<int>(digits.size()) <= p)
            digits.insert(0, static_cast<size_t>(p) + 1 - digits.size(), '0');
        out = digits.substr(0, digits.size() - static_cast<size_t>(p));
        if (p > 0) out += "." + digits.substr(digits.size() - static_cast<size_t>(p));
    } else {
        char buf[400];
        locale_t old = uselocale(CLocale());
        std::snprintf(buf, sizeof buf, "%.*Lf", std::min(p, 40), ax);
        uselocale(old);
        out = buf;
    }
    if (out.find_first_not_of("0.") == std::string::npos) return "0";
    return neg ? "-" + out : out;
}

bool InSet(const char* set, char c) {
    return c != 0 && set && std::strchr(set, c) != nullptr;
}

bool WholeWordAt(const char* s, int len, int pos, int end) {
    if (pos > 0 && IsWordByte(static_cast<unsigned char>(s[pos - 1]))) return false;
    if (end < len && IsWordByte(static_cast<unsigned char>(s[end]))) return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Block management

CDString::CDString(const char* s) : texto_(nullptr) {
    int n = SafeLen(s);
    if (n == 0) return;
    Incre_A(n, false);
    std::memcpy(texto_, s, static_cast<size_t>(n) + 1);
}

CDString::CDString(const CDString& o) : CDString(o.texto_) {}

CDString::~CDString() {
    if (texto_) std::free(header());
}

CDString& CDString::operator=(const CDString& o) {
    if (this == &o) return *this;
    int n = o.Length();
    if (n == 0) {
        if (texto_) texto_[0] = 0;
        return *this;
    }
    Incre_A(n, false);
    std::memcpy(texto_, o.texto_, static_cast<size_t>(n) + 1);
    return *this;
}

CDString& CDString::operator=(CDString&& o) noexcept {
    if (this != &o) {
        if (texto_) std::free(header());
        texto_ = o.texto_;
        o.texto_ = nullptr;
    }
    return *this;
}

void CDString::Incre_A(int n, bool grow) {
    if (n < 0) return;
    long long want;
    if (grow) {
        if (texto_ && header()->capacidad >= n + 2LL) return;
        want = texto_ ? (n + 2LL) * 3 / 2 + 11 : n + 15LL;
    } else {
        if (texto_ && header()->capacidad >= n) return;
        want = n;
    }
    if (want > kMaxCapacity) {
        if (n + 2LL > kMaxCapacity) throw std::bad_alloc();
        want = kMaxCapacity;
    }
    auto* block = static_cast<char*>(std::malloc(kHeader + static_cast<size_t>(want) + 1));
    if (!block) throw std::bad_alloc();
    auto* h = reinterpret_cast<DStringHeader*>(block);
    char* text = block + kHeader;
    int old_cap = 0;
    if (texto_) {
        *h = *header();
        old_cap = header()->capacidad;
        std::memcpy(text, texto_, static_cast<size_t>(old_cap) + 1);
        std::free(header());
    } else {
        h->codepage = DUString::default_codepage;
        h->precision = 1;
        h->decimal_flag = 0;
        text[0] = 0;
        old_cap = 0;
    }
    h->capacidad = static_cast<int32_t>(want);
    std::memset(text + old_cap + 1, 0, static_cast<size_t>(want - old_cap));
    texto_ = text;
}

void DString::Vacia() {
    if (texto_) texto_[0] = 0;
}

void DString::Libera() {
    if (texto_) std::free(header());
    texto_ = nullptr;
}

int CDString::Length() const {
    return texto_ ? static_cast<int>(std::strlen(texto_)) : 0;
}
int CDString::Capacidad() const {
    return texto_ ? header()->capacidad : 0;
}
uint16_t CDString::Codepage() const {
    return texto_ ? header()->codepage : DUString::default_codepage;
}
uint8_t CDString::Precision() const {
    return texto_ ? header()->precision : 1;
}
uint8_t CDString::DecimalFlag() const {
    return texto_ ? header()->decimal_flag : 0;
}

// ---------------------------------------------------------------------------------------------
// Construction and assignment

DString::DString(const char* s, int n) {
    Append(s, n);
}

DString::DString(const wchar_t* w) {
    if (w && *w) *this = Utf8FromWide(w);
}

DString::DString(int n) {
    itoa(n);
}

DString& DString::operator=(const DString& o) {
    return *this = o.c_str();
}
DString& DString::operator=(const CDString& o) {
    return *this = o.c_str();
}

DString& DString::operator=(DString&& o) noexcept {
    CDString::operator=(std::move(o));
    return *this;
}

DString& DString::operator=(const char* s) {
    int n = SafeLen(s);
    if (n == 0) {
        Vacia();
        return *this;
    }
    if (texto_ && s >= texto_ && s <= texto_ + header()->capacidad) {
        std::memmove(texto_, s, static_cast<size_t>(n) + 1); // a piece of this very text
        return *this;
    }
    Incre_A(n, false);
    std::memcpy(texto_, s, static_cast<size_t>(n) + 1);
    return *this;
}

DString& DString::operator=(const wchar_t* w) {
    if (!w || !*w) {
        Vacia();
        return *this;
    }
    return *this = Utf8FromWide(w).c_str();
}

DString& DString::operator=(int n) {
    itoa(n);
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Appending

DString& DString::Append(const char* s, int n) {
    if (!s || n <= 0) return *this;
    n = static_cast<int>(strnlen(s, static_cast<size_t>(n)));
    if (n == 0) return *this;
    int len = Length();
    if (texto_ && s >= texto_ && s <= texto_ + header()->capacidad) {
        std::string copy(s, static_cast<size_t>(n)); // appending a piece of this very text
        Incre_A(len + n, true);
        std::memcpy(texto_ + len, copy.data(), static_cast<size_t>(n));
    } else {
        Incre_A(len + n, true);
        std::memcpy(texto_ + len, s, static_cast<size_t>(n));
    }
    texto_[len + n] = 0;
    return *this;
}

DString& DString::operator+=(const char* s) {
    return Append(s, SafeLen(s));
}

DString& DString::operator+=(char c) {
    int len = Length();
    Incre_A(len + 1, true);
    texto_[len] = c;
    texto_[len + 1] = 0;
    return *this;
}

DString& DString::operator+=(const wchar_t* w) {
    if (!w || !*w) return *this;
    DString u = Utf8FromWide(w);
    return *this += u.c_str();
}

DString& DString::operator<<(wchar_t w) {
    wchar_t buf[2] = {w, 0};
    return *this += buf;
}

DString& DString::operator<<(int v) {
    return *this += std::to_string(v).c_str();
}

DString& DString::operator<<(long v) {
    return *this += std::to_string(v).c_str();
}

DString& DString::operator<<(long long v) {
    return *this += std::to_string(v).c_str();
}

DString& DString::operator<<(unsigned long long v) {
    return *this << static_cast<long long>(v);
}

DString& DString::operator<<(unsigned int v) {
    return *this += std::to_string(v).c_str();
}

DString& DString::operator<<(unsigned long v) {
    return *this += std::to_string(v).c_str();
}

DString& DString::operator<<(double v) {
    return *this += FormatFixed(v, Precision()).c_str();
}

DString operator+(const CDString& a, const CDString& b) {
    DString r(a);
    r += b;
    return r;
}
DString operator+(const CDString& a, const char* b) {
    DString r(a);
    r += b;
    return r;
}
DString operator+(const char* a, const CDString& b) {
    DString r(a);
    r += b;
    return r;
}
DString operator+(const CDString& a, char b) {
    DString r(a);
    r += b;
    return r;
}

// ---------------------------------------------------------------------------------------------
// Formatting

int DString::Dvsprintf(const char* format, va_list args) {
    char buf[10000];
    locale_t old = uselocale(CLocale());
    int n = std::vsnprintf(buf, sizeof buf, format ? format : "", args);
    uselocale(old);
    if (n < 0) buf[0] = 0;
    *this = buf;
    return n;
}

int DString::Dsprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = Dvsprintf(format, args);
    va_end(args);
    return n;
}

int DString::Dsnprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = Dvsprintf(format, args);
    va_end(args);
    return n;
}

DString& DString::itoa(long long v) {
    *this = std::to_string(v).c_str();
    return *this;
}

void DString::SetPrecision_Floats(int digits, bool decimal_flag) {
    if (!texto_) Incre_A(0, true);
    header()->precision = static_cast<uint8_t>(std::clamp(digits, 0, 255));
    header()->decimal_flag = decimal_flag ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Parsing

int CDString::atoi() const {
    if (IsEmpty()) return 0;
    if (texto_[0] == '0' && (texto_[1] == 'x' || texto_[1] == 'X')) return ahextoi();
    return ClampInt(strtoll_l(texto_, nullptr, 10, CLocale()));
}

int64_t CDString::atoi64() const {
    if (IsEmpty()) return 0;
    if (texto_[0] == '0' && (texto_[1] == 'x' || texto_[1] == 'X'))
        return static_cast<int64_t>(std::strtoull(texto_ + 2, nullptr, 16));
    return strtoll_l(texto_, nullptr, 10, CLocale());
}

int CDString::ahextoi() const {
    const char* p = c_str();
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    unsigned int v = 0;
    for (int d; (d = HexDigitValue(*p)) >= 0; p++)
        v = v * 16 + static_cast<unsigned int>(d);
    return static_cast<int>(v);
}

double CDString::atof(bool comma_decimal, bool percent) const {
    return ParseDouble(c_str(), comma_decimal, percent);
}

bool CDString::is_numeric() const {
    for (const char* p = c_str(); *p; p++)
        if (*p < '0' || *p > '9') return false;
    return true;
}

bool CDString::ishex() const {
    for (const char* p = c_str(); *p; p++)
        if (HexDigitValue(*p) < 0) return false;
    return true;
}

bool CDString::is_alphanumeric() const {
    for (const char* p = c_str(); *p; p++)
        if (!IsAsciiAlnum(static_cast<unsigned char>(*p))) return false;
    return true;
}

int CDString::Cuenta_Caracter(char c) const {
    int n = 0;
    for (const char* p = c_str(); *p; p++)
        if (*p == c) n++;
    return n;
}

namespace {
// Takes the leading space-separated word out of the text.
DString TakeWord(DString& s) {
    const char* p = s.c_str();
    int i = 0;
    while (p[i] == ' ')
        i++;
    int start = i;
    while (p[i] && p[i] != ' ')
        i++;
    DString word(p + start, i - start);
    if (p[i] == ' ') i++;
    s.SkipFirsts(i);
    return word;
}
} // namespace

DString& DString::operator>>(int& v) {
    v = TakeWord(*this).atoi();
    return *this;
}
DString& DString::operator>>(short& v) {
    v = static_cast<short>(TakeWord(*this).atoi());
    return *this;
}
DString& DString::operator>>(unsigned long& v) {
    v = static_cast<unsigned long>(TakeWord(*this).atoi64());
    return *this;
}
DString& DString::operator>>(float& v) {
    v = static_cast<float>(TakeWord(*this).atof());
    return *this;
}
DString& DString::operator>>(double& v) {
    v = TakeWord(*this).atof();
    return *this;
}
DString& DString::operator>>(bool& v) {
    v = TakeWord(*this).atof() != 0;
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Access and comparison

char CDString::operator[](int n) const {
    if (!texto_ || n < 0 || n >= header()->capacidad) return 0;
    if (std::memchr(texto_, 0, static_cast<size_t>(n))) return 0;
    return texto_[n];
}

char& DString::operator[](int n) {
    if (n < 0) throw TXErrorDString();
    Incre_A(n + 1, true);
    return texto_[n];
}

char CDString::Ultimo_Caracter() const {
    int len = Length();
    return len ? texto_[len - 1] : 0;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string HexDigits(const void* data, size_t n, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const auto* b = static_cast<const unsigned char*>(data);
    std::string out(n * 2, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[b[i] >> 4];
        out[2 * i + 1] = digits[b[i] & 15];
    }
    return out;
}

int Dstrcmp(const char* a, const char* b) {
    return std::strcmp(a ? a : "", b ? b : "");
}

int CDString::Strcmp(const char* s) const {
    return Dstrcmp(texto_, s);
}

int Dstrcmpi(const char* a, const char* b) {
    if (!a) a = "";
    if (!b) b = "";
    return UpperCopy(a).compare(UpperCopy(b));
}

int Dstrncmpi(const char* a, const char* b, int n) {
    if (!a) a = "";
    if (!b) b = "";
    if (n < 0) n = SafeLen(b);
    std::string ua = UpperCopy(DString(a, n).c_str());
    std::string ub = UpperCopy(DString(b, n).c_str());
    return ua.compare(ub);
}

int CDString::Strcmpi(const char* s) const {
    return Dstrcmpi(texto_, s);
}

int CDString::CompareNoCase(const wchar_t* s) const {
    return Strcmpi(Utf8FromWide(s ? s : L"").c_str());
}

bool CDString::StartsWith(const char* prefix, bool case_sensitive) const {
    int n = SafeLen(prefix);
    if (n == 0) return true;
    if (case_sensitive) return std::strncmp(c_str(), prefix, static_cast<size_t>(n)) == 0;
    return Dstrncmpi(c_str(), prefix, n) == 0;
}

bool CDString::EndsWith(const char* suffix) const {
    int n = SafeLen(suffix), len = Length();
    return n <= len && std::memcmp(c_str() + len - n, suffix ? suffix : "", static_cast<size_t>(n)) == 0;
}

bool CDString::Contains(const char* part, bool case_sensitive) const {
    return (case_sensitive ? strstr(part) : strstri(part)) >= 0;
}

// ---------------------------------------------------------------------------------------------
// Search

int CDString::strchr(int from, char c) const {
    int len = Length();
    if (from < 0) from = 0;
    if (from > len) return -1;
    if (c == 0) return len;
    const void* p = std::memchr(c_str() + from, c, static_cast<size_t>(len - from));
    return p ? static_cast<int>(static_cast<const char*>(p) - c_str()) : -1;
}

int CDString::strchr_inv(char c) const {
    if (!texto_) return c == 0 ? 0 : -1;
    return strchr_inv(Length(), c);
}

int CDString::strchr_inv(int from, char c) const {
    int len = Length();
    if (c == 0) return from >= len ? len : -1;
    if (from >= len) from = len - 1;
    for (int i = from; i >= 0; i--)
        if (texto_[i] == c) return i;
    return -1;
}

int CDString::strchrs(const char* set, int from) const {
    int len = Length();
    if (from < 0) from = 0;
    for (int i = from; i < len; i++)
        if (InSet(set, texto_[i])) return i;
    return -1;
}

int CDString::strchrs_inv(const char* set) const {
    for (int i = Length() - 1; i >= 0; i--)
        if (InSet(set, texto_[i])) return i;
    return -1;
}

int CDString::strstr(const char* s, int from) const {
    int len = Length();
    if (from < 0) from = 0;
    if (from > len) return -1;
    const char* p = std::strstr(c_str() + from, s ? s : "");
    return p ? static_cast<int>(p - c_str()) : -1;
}

int CDString::strstr_inv(const char* s) const {
    int len = Length(), n = SafeLen(s);
    if (n > len) return -1;
    for (int i = len - n; i >= 0; i--)
        if (std::memcmp(texto_ + i, s, static_cast<size_t>(n)) == 0) return i;
    return -1;
}

int CDString::strstri(const char* s) const {
    return strstrpos(s, 0, false, true, false);
}

int CDString::strstrpos(const char* pattern, int from, bool whole_word, bool ignore_case,
                        bool ignore_accents) const {
    int len = Length(), plen = SafeLen(pattern);
    if (from < 0) from = 0;
    if (from > len) return -1;
    const char* s = c_str();
    if (!ignore_case && !ignore_accents) {
        for (int pos = from;;) {
            pos = strstr(pattern, pos);
            if (pos < 0) return -1;
            if (!whole_word || WholeWordAt(s, len, pos, pos + plen)) return pos;
            pos++;
        }
    }
    // Transform both sides; every byte of the transformed text remembers where it came from, so
    // matches map back to byte positions of this text even when the byte lengths change.
    auto transform = [&](const char* t, int n, std::vector<int>* offsets) {
        std::string r(t, static_cast<size_t>(n));
        std::vector<int> first, second;
        if (ignore_accents) {
            r = MapUtf8(r.data(), static_cast<int>(r.size()), StripAccent, offsets ? &first : nullptr);
        }
        if (ignore_case) {
            r = MapUtf8(r.data(), static_cast<int>(r.size()), Upper, offsets ? &second : nullptr);
        }
        if (offsets) {
            offsets->clear();
            if (ignore_accents && ignore_case) {
                for (int o : second)
                    offsets->push_back(first[static_cast<size_t>(o)]);
            } else {
                *offsets = ignore_accents ? first : second;
            }
        }
        return r;
    };
    std::vector<int> offsets;
    std::string hay = transform(s, len, &offsets);
    std::string pat = transform(pattern ? pattern : "", plen, nullptr);
    size_t start = 0;
    while (start < offsets.size() && offsets[start] < from)
        start++;
    for (;;) {
        size_t p = hay.find(pat, start);
        if (p == std::string::npos) return -1;
        int orig = offsets[p];
        // A match must begin where a character of this text begins.
        if ((p == 0 || offsets[p - 1] != orig)) {
            int orig_end = offsets[p + pat.size()];
            if (!whole_word || WholeWordAt(s, len, orig, orig_end)) return orig;
        }
        start = p + 1;
    }
}

int CDString::search(const char* pattern) const {
    int n = Length(), m = SafeLen(pattern);
    if (m == 0) return 0;
    if (m > n) return -1;
    int skip[256];
    for (int& k : skip)
        k = m;
    const auto* pat = reinterpret_cast<const unsigned char*>(pattern);
    const auto* txt = reinterpret_cast<const unsigned char*>(texto_);
    for (int i = 0; i < m - 1; i++)
        skip[pat[i]] = m - 1 - i;
    for (int i = 0; i <= n - m; i += skip[txt[i + m - 1]]) {
        int j = m - 1;
        while (j >= 0 && txt[i + j] == pat[j])
            j--;
        if (j < 0) return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Pieces

namespace {
DString EmptyNotNull() {
    DString r;
    r.Incre_A(0, false);
    return r;
}
} // namespace

DString CDString::SubString(int from, int to) const {
    if (!texto_) return DString();
    int len = Length();
    if (to > len) to = len;
    if (from < 0 || from > len || from >= to) return EmptyNotNull();
    return DString(texto_ + from, to - from);
}

DString CDString::SubString(int from) const {
    return SubString(from, Length());
}

DString CDString::Mid(int index, int n) const {
    int len = Length();
    if (index < 0 || index >= len || n <= 0) return DString();
    return DString(texto_ + index, std::min(n, len - index));
}

DString CDString::Mid2(int first, int last) const {
    int len = Length();
    if (last < 0 || last >= len) last = len - 1;
    if (first < 0) first = 0;
    if (last < first) return DString();
    return DString(texto_ + first, last - first + 1);
}

void CDString::Separa_En_Palabras(const char* separators, VectorS<DString>& out, int max_words,
                                  bool keep_empty, bool quotes) const {
    out.Vacia(true);
    const char* s = c_str();
    int len = Length();
    int start = 0, count = 0;
    bool in_quotes = false;
    for (int i = 0; i < len; i++) {
        char c = s[i];
        if (quotes && c == '"') {
            in_quotes = !in_quotes;
            continue;
        }
        if (in_quotes || !(max_words < 0 || count < max_words) || !InSet(separators, c)) continue;
        if (i > start || keep_empty) {
            out.Anyade(DString(s + start, i - start));
            count++;
        }
        start = i + 1;
    }
    if (start >= len) return;
    if (max_words < 0 || count < max_words) {
        out.Anyade(DString(s + start, len - start));
    } else if (out.Numero() > 0) {
        out[out.Numero() - 1 + out.Base()].Append(s + start - 1, len - start + 1);
    } else {
        out.Anyade(DString(s + start, len - start));
    }
}

void CDString::Separa_En_Palabras_SinEspacios(const char* separators, VectorS<DString>& out, int max_words,
                                              bool keep_empty) const {
    Separa_En_Palabras(separators, out, max_words, keep_empty, true);
    for (int i = 0; i < out.Numero(); i++)
        out[i + out.Base()].Saca_Espacios_AntesDespues();
}

bool CDString::Separa_en_Dos_Por(DString& left, DString& right, char c) const {
    int len = Length();
    if (len <= 2) return false;
    int pos = strchr(0, c);
    if (pos < 0) return false;
    DString l(texto_, pos), r(texto_ + pos + 1);
    left = std::move(l);
    right = std::move(r);
    return true;
}

bool CDString::Separa_Por_Asignacion(DString& left, DString& right) const {
    return Separa_en_Dos_Por(left, right, '=');
}

DString CDString::GetParam(const char* name, const char* terminator) const {
    int pos = strstr(name);
    if (pos < 0) return EmptyNotNull();
    int start = pos + SafeLen(name);
    if (!terminator) terminator = " ";
    int end = *terminator ? strstr(terminator, start) : -1;
    if (end < 0) end = Length();
    DString r(texto_ + start, end - start);
    return r;
}

DString CDString::PasaHexL(int n) const {
    DString r(*this);
    r.PasaHex(n);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Editing

void DString::Inserta(const char* s, int pos) {
    int len = Length(), n = SafeLen(s);
    if (pos < 0 || pos > len || n == 0) return;
    std::string copy(s, static_cast<size_t>(n));
    Incre_A(len + n, true);
    std::memmove(texto_ + pos + n, texto_ + pos, static_cast<size_t>(len - pos) + 1);
    std::memcpy(texto_ + pos, copy.data(), static_cast<size_t>(n));
}

void DString::Elimina(int pos, int n) {
    int len = Length();
    if (pos < 0 || pos >= len || n <= 0) return;
    if (pos + n >= len) {
        texto_[pos] = 0;
        return;
    }
    std::memmove(texto_ + pos, texto_ + pos + n, static_cast<size_t>(len - pos - n) + 1);
}

void DString::strncpy(const char* source, int n) {
    *this = DString(source, n).c_str();
}

void DString::SkipFirsts(int n) {
    if (n <= 0) return;
    int len = Length();
    if (n >= len) {
        Vacia();
        return;
    }
    std::memmove(texto_, texto_ + n, static_cast<size_t>(len - n) + 1);
}

void DString::SkipLasts(int n) {
    if (n <= 0) return;
    int len = Length();
    if (n >= len)
        Vacia();
    else
        texto_[len - n] = 0;
}

bool DString::SkipStartsWith(const char* prefix, bool case_sensitive) {
    int n = SafeLen(prefix);
    if (n == 0 || !StartsWith(prefix, case_sensitive)) return false;
    SkipFirsts(n);
    return true;
}

bool DString::SkipEndsWith(const char* suffix) {
    int n = SafeLen(suffix);
    if (n == 0 || !EndsWith(suffix)) return false;
    SkipLasts(n);
    return true;
}

void DString::Elimina_Ultimo() {
    SkipLasts(1);
}

int DString::Caracter_Final(char c) {
    int pos = c ? strchr(0, c) : -1;
    if (pos >= 0) texto_[pos] = 0;
    return pos;
}

void DString::Elimina_Caracter_Todos(char c) {
    char set[2] = {c, 0};
    Elimina_Caracteres_Todos(set);
}

void DString::Elimina_Caracteres_Todos(const char* set) {
    if (!texto_) return;
    char* w = texto_;
    for (const char* r = texto_; *r; r++)
        if (!InSet(set, *r)) *w++ = *r;
    *w = 0;
}

void DString::rellena(char c, int n) {
    if (n <= 0 || c == 0) {
        Vacia();
        return;
    }
    Incre_A(n, false);
    std::memset(texto_, c, static_cast<size_t>(n));
    texto_[n] = 0;
}

void DString::Padding(char c, int block) {
    if (block <= 0 || c == 0) return;
    int len = Length();
    int add = (block - (len + 1) % block) % block;
    if (add == 0) return;
    Incre_A(len + add, true);
    std::memset(texto_ + len, c, static_cast<size_t>(add));
    texto_[len + add] = 0;
}

int DString::Sustituye(const char* from, const char* to, bool whole_word) {
    int flen = SafeLen(from), tlen = SafeLen(to);
    if (flen == 0 || Dstrcmp(from, to) == 0 || !texto_) return 0;
    const char* s = texto_;
    int len = Length();
    std::string out;
    int count = 0, i = 0;
    while (i < len) {
        const char* p = std::strstr(s + i, from);
        if (!p) break;
        int pos = static_cast<int>(p - s);
        if (whole_word && !WholeWordAt(s, len, pos, pos + flen)) {
            out.append(s + i, static_cast<size_t>(pos - i + 1));
            i = pos + 1;
            continue;
        }
        out.append(s + i, static_cast<size_t>(pos - i));
        out.append(to ? to : "", static_cast<size_t>(tlen));
        i = pos + flen;
        count++;
    }
    if (count == 0) return 0;
    out.append(s + i, static_cast<size_t>(len - i));
    if (out.empty()) {
        Vacia();
    } else {
        Incre_A(static_cast<int>(out.size()), true);
        std::memcpy(texto_, out.c_str(), out.size() + 1);
    }
    return count;
}

int DString::Sustituye(char from, char to, int from_pos) {
    if (from == to || from == 0 || !texto_) return 0;
    int len = Length(), count = 0;
    if (from_pos < 0) from_pos = 0;
    for (int i = from_pos; i < len; i++)
        if (texto_[i] == from) {
            texto_[i] = to;
            count++;
        }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Trimming and quotes

namespace {
template <class Pred> void TrimBoth(DString& d, Pred pred) {
    int len = d.Length();
    int end = len;
    while (end > 0 && pred(d.c_str()[end - 1]))
        end--;
    if (end < len) d.SkipLasts(len - end);
    int start = 0;
    while (start < end && pred(d.c_str()[start]))
        start++;
    d.SkipFirsts(start);
}
} // namespace

void DString::Saca_Espacios_AntesDespues() {
    TrimBoth(*this, IsSpace);
}
void DString::Saca_EspaciosTabs_AntesDespues() {
    TrimBoth(*this, IsSpaceTab);
}
void DString::Saca_Returns_AntesDespues() {
    TrimBoth(*this, IsCrLf);
}

void DString::TrimLeft() {
    int start = 0;
    while (IsSpaceTab(c_str()[start]))
        start++;
    SkipFirsts(start);
}

void DString::Saca_Espacios_Duplicados() {
    if (!texto_) return;
    char* w = texto_;
    for (const char* r = texto_; *r; r++)
        if (!(*r == ' ' && w > texto_ && w[-1] == ' ')) *w++ = *r;
    *w = 0;
}

void DString::Saca_Returns() {
    Sustituye("\r\n", " ");
    Sustituye('\r', ' ');
    Sustituye('\n', ' ');
}

void DString::Pon_Comillas(char quote) {
    if (quote == 0) quote = '"';
    if (Length() < 2 || texto_[0] == quote) return;
    char q[2] = {quote, 0};
    Inserta(q, 0);
    *this += quote;
}

void DString::Saca_Comillas(char quote) {
    Saca_Espacios_AntesDespues();
    int len = Length();
    if (len >= 2 && texto_[0] == quote && texto_[len - 1] == quote) {
        texto_[len - 1] = 0;
        SkipFirsts(1);
    }
}

// ---------------------------------------------------------------------------------------------
// Case

void DString::A_Mayusculas(bool) {
    if (IsEmpty()) return;
    *this = UpperCopy(texto_).c_str();
}

void DString::A_Minusculas(bool all) {
    if (IsEmpty()) return;
    int len = Length();
    int keep = all ? 0 : FirstCodePointLen(texto_, len);
    std::string r(texto_, static_cast<size_t>(keep));
    r += MapUtf8(texto_ + keep, len - keep, Lower);
    *this = r.c_str();
}

namespace {
// Upper-cases the first letter, or the first letter of each word.
void CapitaliseLetters(DString& d, bool every_word) {
    if (d.IsEmpty()) return;
    bool at_word_start = true, done = false;
    std::string out = MapUtf8(d.c_str(), d.Length(), [&](utf8proc_int32_t cp, std::string& o) {
        bool letter = IsLetterCp(cp);
        if (letter && at_word_start && !done) {
            PutCodePoint(ToUpper(cp), o);
            if (!every_word) done = true;
        } else {
            PutCodePoint(cp, o);
        }
        at_word_start = every_word ? !IsAlnumCp(cp) && cp != '\'' : !letter;
    });
    d = out.c_str();
}
} // namespace

void DString::Primera_Letra_Mayusculas() {
    CapitaliseLetters(*this, false);
}
void DString::ProperCase() {
    CapitaliseLetters(*this, true);
}

// ---------------------------------------------------------------------------------------------
// Encodings

void DString::PasaHex(int n) {
    int len = Length();
    if (n < 0) n = len;
    if (!texto_ || n == 0) return;
    n = std::min(n, header()->capacidad); // binary values may hold zero bytes before n
    std::string out = HexDigits(texto_, static_cast<size_t>(n));
    if (len > n) out.append(texto_ + n);
    Incre_A(static_cast<int>(out.size()), true);
    std::memcpy(texto_, out.c_str(), out.size() + 1);
}

bool DString::SacaHex(int& count) {
    int len = Length();
    if (len % 2 != 0) return false;
    for (int i = 0; i < len; i++)
        if (HexDigitValue(texto_[i]) < 0) return false;
    for (int i = 0; i < len / 2; i++)
        texto_[i] = static_cast<char>(HexDigitValue(texto_[2 * i]) * 16 + HexDigitValue(texto_[2 * i + 1]));
    if (texto_) texto_[len / 2] = 0;
    count = len / 2;
    return true;
}

void DString::Codifica_String_url(bool encode_general_delims, bool encode_sub_delims) {
    if (IsEmpty()) return;
    std::string out;
    for (const char* p = texto_; *p; p++) {
        auto c = static_cast<unsigned char>(*p);
        bool copy = IsAsciiAlnum(c) || std::strchr("-._~/", c) || c >= 0x80;
        if (!copy && std::strchr("#:?@[]", c)) copy = !encode_general_delims;
        if (!copy && std::strchr("!$&'()*+,;=", c)) copy = !encode_sub_delims;
        if (copy) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out += HexDigits(&c, 1);
        }
    }
    *this = out.c_str();
}

void DString::URLEncode(const char* extra) {
    if (IsEmpty()) return;
    std::string out;
    for (const char* p = texto_; *p; p++) {
        auto c = static_cast<unsigned char>(*p);
        if (c >= 0x80 || c == ' ' || InSet(extra, static_cast<char>(c))) {
            out.push_back('%');
            out += HexDigits(&c, 1);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    *this = out.c_str();
}

void DString::URLDecode() {
    if (IsEmpty()) return;
    std::string out;
    for (const char* p = texto_; *p; p++) {
        if (*p == '+') {
            out.push_back(' ');
        } else if (*p == '%' && HexDigitValue(p[1]) >= 0 && HexDigitValue(p[2]) >= 0) {
            char b = static_cast<char>(HexDigitValue(p[1]) * 16 + HexDigitValue(p[2]));
            // A decoded zero byte would silently cut the text; keep it encoded instead.
            if (b == 0) {
                out.append(p, 3);
            } else {
                out.push_back(b);
            }
            p += 2;
        } else {
            out.push_back(*p);
        }
    }
    *this = out.c_str();
}

void DString::InsertGroupSeparators(char separator, int group) {
    if (IsEmpty() || group <= 0 || separator == 0) return;
    // Only the integer digits are grouped: a sign before them and anything after them stay.
    int start = (texto_[0] == '-' || texto_[0] == '+') ? 1 : 0;
    int end = start;
    while (texto_[end] >= '0' && texto_[end] <= '9')
        end++;
    char sep[2] = {separator, 0};
    for (int pos = end - group; pos > start; pos -= group)
        Inserta(sep, pos);
}

// ---------------------------------------------------------------------------------------------
// Wide text

DString Utf8FromWide(const wchar_t* w) {
    if (!w || !*w) return DString();
    std::string out;
    for (const wchar_t* p = w; *p; p++) {
        auto c = static_cast<uint32_t>(*p);
        if (c >= 0xD800 && c <= 0xDBFF) {
            auto next = static_cast<uint32_t>(p[1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                PutCodePoint(static_cast<utf8proc_int32_t>(0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00)),
                             out);
                p++;
            } else {
                out.push_back('?');
            }
        } else if ((c >= 0xDC00 && c <= 0xDFFF) || c > 0x10FFFF) {
            out.push_back('?');
        } else {
            PutCodePoint(static_cast<utf8proc_int32_t>(c), out);
        }
    }
    if (out.empty()) return DString("utf16 error!");
    return DString(out.c_str());
}

DUString::DUString(const char* utf8) {
    int len = SafeLen(utf8);
    capacidad_ = len + 20;
    texto_ = new wchar_t[static_cast<size_t>(capacidad_) + 1];
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(utf8 ? utf8 : "");
    int i = 0, k = 0;
    while (i < len) {
        utf8proc_int32_t cp = -1;
        utf8proc_ssize_t n = utf8proc_iterate(p + i, len - i, &cp);
        if (n <= 0 || cp < 0) {
            cp = 0xFFFD;
            n = 1;
        }
        texto_[k++] = static_cast<wchar_t>(cp); // one 32-bit wide character per code point
        i += static_cast<int>(n);
    }
    texto_[k] = 0;
}

DUString::DUString(const wchar_t* w) {
    int len = w ? static_cast<int>(std::wcslen(w)) : 0;
    capacidad_ = len + 11;
    texto_ = new wchar_t[static_cast<size_t>(capacidad_) + 1];
    if (len) std::wmemcpy(texto_, w, static_cast<size_t>(len));
    texto_[len] = 0;
}

DUString::DUString(const DUString& o) : DUString(o.c_str()) {}

DUString& DUString::operator=(const DUString& o) {
    if (this != &o) {
        DUString copy(o);
        std::swap(texto_, copy.texto_);
        std::swap(capacidad_, copy.capacidad_);
    }
    return *this;
}

DUString::~DUString() {
    delete[] texto_;
}

int DUString::Length() const {
    return texto_ ? static_cast<int>(std::wcslen(texto_)) : 0;
}

// ---------------------------------------------------------------------------------------------
// Binary values

DStringB::DStringB(const DStringB& o) : DString(), flag(o.flag) {
    SetBin(o.Data(), o.LengthB());
}

DStringB& DStringB::operator=(const DStringB& o) {
    if (this != &o) {
        DStringB copy(o);
        std::swap(texto_, copy.texto_);
        std::swap(longitud_, copy.longitud_);
        flag = o.flag;
    }
    return *this;
}

int DStringB::LengthB() const {
    return longitud_ >= 0 ? std::min(longitud_, std::max(Capacidad(), 0)) : Length();
}

void DStringB::SetBin(const void* data, int n) {
    Vacia();
    longitud_ = 0;
    AddBinToken(data, n);
}

void DStringB::AddBinToken(const void* data, int n, bool reverse) {
    int len = LengthB();
    if (n <= 0 || !data) {
        longitud_ = len;
        return;
    }
    const auto* src = static_cast<const char*>(data);
    std::string copy(src, static_cast<size_t>(n)); // data may live in this very block
    Incre_A(len + n, true);
    for (int i = 0; i < n; i++)
        texto_[len + i] = copy[static_cast<size_t>(reverse ? n - 1 - i : i)];
    texto_[len + n] = 0;
    longitud_ = len + n;
}

unsigned char DStringB::Checksum() const {
    unsigned char x = 0;
    const unsigned char* p = Data();
    for (int i = 0, n = LengthB(); i < n; i++)
        x ^= p[i];
    return x;
}

void DStringB::AddChecksum() {
    unsigned char c = Checksum();
    AddBinToken(&c, 1);
}

void DStringB::CodificaHex() {
    int n = LengthB();
    if (n > 0) PasaHex(n);
    longitud_ = -1;
}

bool DStringB::DecodificaHex() {
    int count = 0;
    if (!SacaHex(count)) return false;
    longitud_ = count;
    return true;
}

// ---------------------------------------------------------------------------------------------
// In-place word splitter

TPalabrasStr::TPalabrasStr(DString& text, const char* separators, int max_words, bool keep_empty,
                           bool quotes) {
    char* s = text.Buffer();
    if (!s) return;
    int len = text.Length();
    int start = 0, count = 0, last_cut = -1;
    char last_sep = 0;
    bool in_quotes = false;
    for (int i = 0; i < len; i++) {
        char c = s[i];
        if (quotes && c == '"') {
            in_quotes = !in_quotes;
            continue;
        }
        if (in_quotes || !(max_words < 0 || count < max_words) || !InSet(separators, c)) continue;
        last_sep = c;
        last_cut = i;
        s[i] = 0;
        if (i > start || keep_empty) {
            Anyade(s + start);
            count++;
        }
        start = i + 1;
    }
    if (start >= len) return;
    if (max_words < 0 || count < max_words || numero_ == 0) {
        Anyade(s + start);
    } else if (last_cut >= 0) {
        s[last_cut] = last_sep; // the rest stays joined to the last word
    }
}

TPalabrasStr::~TPalabrasStr() {
    if (palabras_ != inline_) delete[] palabras_;
}

void TPalabrasStr::Anyade(char* word) {
    if (numero_ == capacidad_) {
        int cap = capacidad_ * 2;
        auto* table = new char*[static_cast<size_t>(cap)];
        std::copy(palabras_, palabras_ + numero_, table);
        if (palabras_ != inline_) delete[] palabras_;
        palabras_ = table;
        capacidad_ = cap;
    }
    palabras_[numero_++] = word;
}

const char* TPalabrasStr::operator[](int i) const {
    return i >= 0 && i < numero_ ? palabras_[i] : "";
}
