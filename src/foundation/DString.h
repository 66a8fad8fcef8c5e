// DString and kin: the owned text type of the whole program.
//
// A DString is one pointer wide: it owns a heap block (a small header, the text bytes and a
// terminating zero) or no block at all (the null text, which reads exactly as ""). Content is
// UTF-8 unless a caller says otherwise. Positions, lengths and counts are byte counts; "not
// found" is -1. Values are deep-copied. Not thread-safe: one value belongs to one thread at a time.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

class DString;
class DUString;
template <class T> class VectorS;

// Header in front of the text bytes of every block.
struct DStringHeader {
    int32_t capacidad; // text bytes the block can hold (the terminator is extra)
    uint16_t codepage; // copied from DUString::default_codepage at first allocation
    uint8_t precision; // digits after the decimal mark when appending floating-point numbers
    uint8_t decimal_flag;
};

// Thrown for a negative index given to the mutable operator[] of DString; what() is the text
// "Error DString n<0". A programming error, caught only at the top of worker threads.
struct TXErrorDString : std::logic_error {
    TXErrorDString() : std::logic_error("Error DString n<0") {}
};

namespace dstring_detail {
// Any string class with a wide form (wxString): converted through UTF-8 without naming the toolkit.
template <class S, class = void> struct has_wc_str : std::false_type {};
template <class S>
struct has_wc_str<S, std::void_t<decltype(std::declval<const S&>().wc_str())>> : std::true_type {};
template <class S>
struct is_wide_string : std::conjunction<has_wc_str<S>, std::is_constructible<S, const wchar_t*>> {};
} // namespace dstring_detail

// Read-only face of the text: queries, search, split and parse. Owns its block.
class CDString {
public:
    CDString() noexcept : texto_(nullptr) {}
    CDString(const char* s);
    CDString(const CDString& o);
    CDString(CDString&& o) noexcept : texto_(o.texto_) { o.texto_ = nullptr; }
    ~CDString();
    CDString& operator=(const CDString& o);
    CDString& operator=(CDString&& o) noexcept;

    // Size and raw access. c_str() is never null ("" for the null text).
    int Length() const;
    bool IsNull() const { return texto_ == nullptr; }
    bool IsEmpty() const { return texto_ == nullptr || texto_[0] == 0; }
    const char* c_str() const { return texto_ ? texto_ : ""; }
    int Capacidad() const; // 0 for the null text
    uint16_t Codepage() const;
    uint8_t Precision() const;   // 1 for the null text
    uint8_t DecimalFlag() const; // 0 for the null text

    // Byte n when 0 <= n < length, else 0.
    char operator[](int n) const;
    char Ultimo_Caracter() const;

    // Parsing.
    int atoi() const;
    int64_t atoi64() const;
    int ahextoi() const;
    double atof(bool comma_decimal = false, bool percent = false) const;
    bool is_numeric() const;
    bool ishex() const;
    bool is_alphanumeric() const;
    int Cuenta_Caracter(char c) const;

    // Comparison. Null, empty and "" are equal; an empty side sorts first.
    int Strcmp(const char* s) const;
    int Strcmp(const CDString& s) const { return Strcmp(s.c_str()); }
    int Strcmpi(const char* s) const; // Unicode upper-case of both sides; 0 = equal
    int Strcmpi(const CDString& s) const { return Strcmpi(s.c_str()); }
    int CompareNoCase(const wchar_t* s) const;
    bool StartsWith(const char* prefix, bool case_sensitive = true) const;
    bool EndsWith(const char* suffix) const;
    bool Contains(const char* part, bool case_sensitive = true) const;

    // Search. Byte positions, -1 when not found.
    int strchr(int from, char c) const;
    int strchr(char c) const { return strchr(0, c); }
    int strchr_inv(char c) const;
    int strchr_inv(int from, char c) const;
    int strchrs(const char* set, int from = 0) const;
    int strchrs_inv(const char* set) const;
    int strstr(const char* s, int from = 0) const;
    int strstr_inv(const char* s) const;
    int strstri(const char* s) const;
    int strstrpos(const char* pattern, int from = 0, bool whole_word = false, bool ignore_case = false,
                  bool ignore_accents = false) const;
    int search(const char* pattern) const; // Boyer-Moore; same result as strstr

    // Pieces. SubString(from, to) = bytes from..to-1 ("" when out of range, null for a null text).
    DString SubString(int from, int to) const;
    DString SubString(int from) const;
    DString Mid(int index, int n) const;
    DString Mid2(int first, int last = -1) const;

    // Splitting (see DString.cpp for the exact rules of quotes, empty words and the limit).
    void Separa_En_Palabras(const char* separators, VectorS<DString>& out, int max_words = -1,
                            bool keep_empty = false, bool quotes = false) const;
    void Separa_En_Palabras_SinEspacios(const char* separators, VectorS<DString>& out, int max_words = -1,
                                        bool keep_empty = false) const;
    bool Separa_en_Dos_Por(DString& left, DString& right, char c) const;
    bool Separa_Por_Asignacion(DString& left, DString& right) const;
    DString GetParam(const char* name, const char* terminator = nullptr) const;

    // Hex form of the first n bytes (all when n < 0), two upper-case digits per byte.
    DString PasaHexL(int n = -1) const;

    // Conversion to a string class with a wide form (wxString), through UTF-8.
    template <class W, std::enable_if_t<dstring_detail::is_wide_string<W>::value, int> = 0>
    operator W() const;

protected:
    // Ensures room for n text bytes: with grow, n + 2 bytes or (n + 2) * 3 / 2 + 11 when the
    // block must move (n + 15 for a first block); without, exactly n. Never shrinks.
    void Incre_A(int n, bool grow = true);
    DStringHeader* header() const { return reinterpret_cast<DStringHeader*>(texto_) - 1; }
    char* texto_; // points at the text bytes, just after the header; null for the null text
};

class DString : public CDString {
public:
    DString() noexcept = default;
    DString(const char* s) : CDString(s) {}
    DString(const unsigned char* s) : CDString(reinterpret_cast<const char*>(s)) {}
    DString(const char* s, int n); // the first n bytes (fewer when s ends sooner)
    DString(const CDString& o) : CDString(o) {}
    DString(const DString& o) : CDString(o) {}
    DString(DString&& o) noexcept : CDString(std::move(o)) {}
    DString(const wchar_t* w);
    explicit DString(int n);
    template <class S, std::enable_if_t<dstring_detail::has_wc_str<S>::value, int> = 0>
    DString(const S& wx) : DString(static_cast<const wchar_t*>(wx.wc_str())) {}

    DString& operator=(const DString& o);
    DString& operator=(DString&& o) noexcept;
    DString& operator=(const CDString& o);
    DString& operator=(const char* s);
    DString& operator=(const wchar_t* w);
    DString& operator=(int n);
    template <class S, std::enable_if_t<dstring_detail::has_wc_str<S>::value, int> = 0>
    DString& operator=(const S& wx) {
        return *this = static_cast<const wchar_t*>(wx.wc_str());
    }

    // Writable byte n; grows the block to hold n + 1 bytes. The terminator is not moved.
    // n < 0 throws TXErrorDString.
    char& operator[](int n);
    char operator[](int n) const { return CDString::operator[](n); }
    char* Buffer() { return texto_; } // null for the null text
    using CDString::Incre_A;
    void Vacia();  // empties, keeping the block
    void Libera(); // frees the block: back to the null text

    // Appending.
    DString& operator+=(const char* s);
    DString& operator+=(const CDString& s) { return *this += s.c_str(); }
    DString& operator+=(char c);
    DString& operator+=(const wchar_t* w);
    DString& Append(const char* s, int n); // n bytes of s (stops at a zero byte)
    DString& operator<<(const char* s) { return *this += s; }
    DString& operator<<(const unsigned char* s) { return *this += reinterpret_cast<const char*>(s); }
    DString& operator<<(const CDString& s) { return *this += s.c_str(); }
    DString& operator<<(int v);
    DString& operator<<(short v) { return *this << static_cast<int>(v); }
    DString& operator<<(long v);
    DString& operator<<(bool v) { return *this << static_cast<int>(v ? 1 : 0); }
    DString& operator<<(long long v);
    DString& operator<<(unsigned long long v); // written as signed 64-bit
    DString& operator<<(unsigned int v);
    DString& operator<<(unsigned short v) { return *this << static_cast<unsigned int>(v); }
    DString& operator<<(unsigned long v);
    DString& operator<<(char c) { return *this += c; }
    DString& operator<<(unsigned char c) { return *this += static_cast<char>(c); }
    DString& operator<<(float v) { return *this << static_cast<double>(v); }
    DString& operator<<(double v); // fixed point, this value's precision, always "."
    DString& operator<<(const wchar_t* w) { return *this += w; }
    DString& operator<<(wchar_t w);

    // Extraction: takes the leading space-separated word out of the text and parses it.
    DString& operator>>(int& v);
    DString& operator>>(short& v);
    DString& operator>>(unsigned long& v);
    DString& operator>>(float& v);
    DString& operator>>(double& v);
    DString& operator>>(bool& v);

    // Formatting. The whole text is replaced; at most 9999 bytes survive. Returns the length
    // the formatter reported. Number formatting is C-locale whatever the process locale.
    int Dsprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int Dsnprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int Dvsprintf(const char* format, va_list args);
    DString& itoa(long long v);
    void SetPrecision_Floats(int digits, bool decimal_flag = false);

    // Editing.
    void Inserta(const char* s, int pos);
    void Elimina(int pos, int n);
    void strncpy(const char* source, int n);
    void SkipFirsts(int n);
    void SkipLasts(int n);
    bool SkipStartsWith(const char* prefix, bool case_sensitive = true);
    bool SkipEndsWith(const char* suffix);
    void Elimina_Ultimo();
    int Caracter_Final(char c);
    void Elimina_Caracter_Todos(char c);
    void Elimina_Caracteres_Todos(const char* set);
    void rellena(char c, int n);
    void Padding(char c, int block);
    int Sustituye(const char* from, const char* to, bool whole_word = false);
    int Sustituye(char from, char to, int from_pos = 0);

    // Trimming.
    void Saca_Espacios_AntesDespues();
    void Saca_EspaciosTabs_AntesDespues();
    void Saca_Returns_AntesDespues();
    void TrimLeft();
    void Saca_Espacios_Duplicados();
    void Saca_Returns();

    // Quotes.
    void Pon_Comillas(char quote = 0);
    void Saca_Comillas(char quote = '"');

    // Case, over the Unicode simple mappings of UTF-8 text (the byte length may change).
    void A_Mayusculas(bool all = true);
    void A_Minusculas(bool all = true); // all = false keeps the first character as it is
    void Primera_Letra_Mayusculas();
    void ProperCase();

    // Encodings.
    void PasaHex(int n = -1);
    bool SacaHex(int& count); // false (unchanged) for an odd length or a non-hex digit
    void Codifica_String_url(bool encode_general_delims = false, bool encode_sub_delims = false);
    void URLEncode(const char* extra = nullptr);
    void URLDecode();
    void InsertGroupSeparators(char separator = ',', int group = 3);
};

DString operator+(const CDString& a, const CDString& b);
DString operator+(const CDString& a, const char* b);
DString operator+(const char* a, const CDString& b);
DString operator+(const CDString& a, char b);

inline bool operator==(const CDString& a, const CDString& b) {
    return a.Strcmp(b) == 0;
}
inline bool operator==(const CDString& a, const char* b) {
    return a.Strcmp(b) == 0;
}
inline bool operator==(const char* a, const CDString& b) {
    return b.Strcmp(a) == 0;
}
inline bool operator!=(const CDString& a, const CDString& b) {
    return a.Strcmp(b) != 0;
}
inline bool operator!=(const CDString& a, const char* b) {
    return a.Strcmp(b) != 0;
}
inline bool operator!=(const char* a, const CDString& b) {
    return b.Strcmp(a) != 0;
}
inline bool operator<(const CDString& a, const CDString& b) {
    return a.Strcmp(b) < 0;
}
inline bool operator>(const CDString& a, const CDString& b) {
    return a.Strcmp(b) > 0;
}

// Byte-order comparison with the rules of Strcmp (null reads as "").
int Dstrcmp(const char* a, const char* b);
// Case-insensitive comparisons (Unicode upper-case of both sides, then bytes). Null reads as "".
int Dstrcmpi(const char* a, const char* b);
int Dstrncmpi(const char* a, const char* b, int n = -1); // n = -1: the length of b

// The value of a hex digit of either case; -1 for any other character.
int HexDigitValue(char c);
// Two hex digits per byte of data[0, n), upper-case unless told otherwise.
std::string HexDigits(const void* data, size_t n, bool upper = true);

// Binary data: a DString with an explicit byte length (-1 = up to the terminator) and a flag.
class DStringB : public DString {
public:
    DStringB() = default;
    DStringB(const void* data, int n) { SetBin(data, n); }
    DStringB(const DStringB& o); // copies LengthB() bytes, zero bytes included
    DStringB& operator=(const DStringB& o);
    // Text assignments: the byte length goes back to "up to the terminator".
    DStringB& operator=(const char* s) {
        DString::operator=(s);
        longitud_ = -1;
        return *this;
    }
    DStringB& operator=(const CDString& s) { return *this = s.c_str(); }

    int LengthB() const; // the byte length (Length() when unset)
    void SetLengthB(int n) { longitud_ = n; }
    const unsigned char* Data() const { return reinterpret_cast<const unsigned char*>(c_str()); }
    void SetBin(const void* data, int n);
    // Appends n raw bytes (in reverse order when asked), keeps a terminator, sets the length.
    void AddBinToken(const void* data, int n, bool reverse = false);
    unsigned char Checksum() const; // XOR of all bytes, 0 when empty
    void AddChecksum();
    void CodificaHex();   // bytes -> hex text
    bool DecodificaHex(); // hex text -> bytes; false (unchanged) on bad input
    uint8_t flag = 0;

private:
    int longitud_ = -1;
};

// Wide text (the platform's 32-bit wchar_t), zero-terminated, with its own capacity.
class DUString {
public:
    static uint16_t default_codepage; // 65001 (UTF-8)

    DUString() = default;
    DUString(const char* utf8);
    DUString(const CDString& s) : DUString(s.c_str()) {}
    DUString(const wchar_t* w);
    DUString(const DUString& o);
    DUString(DUString&& o) noexcept : texto_(o.texto_), capacidad_(o.capacidad_) {
        o.texto_ = nullptr;
        o.capacidad_ = 0;
    }
    DUString& operator=(const DUString& o);
    ~DUString();

    const wchar_t* c_str() const { return texto_ ? texto_ : L""; }
    int Length() const;
    int Capacidad() const { return capacidad_; }
    DString ToDString() const { return DString(c_str()); }
    operator DString() const { return ToDString(); }
    template <class W, std::enable_if_t<dstring_detail::is_wide_string<W>::value, int> = 0>
    operator W() const {
        return W(c_str());
    }

private:
    wchar_t* texto_ = nullptr;
    int capacidad_ = 0;
};

template <class W, std::enable_if_t<dstring_detail::is_wide_string<W>::value, int>>
CDString::operator W() const {
    return W(DUString(c_str()).c_str());
}

// In-place word splitter: cuts the caller's text at the separators (writing zero bytes into it)
// and keeps a pointer to each word. The text must outlive this object.
class TPalabrasStr {
public:
    TPalabrasStr(DString& text, const char* separators, int max_words = -1, bool keep_empty = false,
                 bool quotes = false);
    ~TPalabrasStr();
    TPalabrasStr(const TPalabrasStr&) = delete;
    TPalabrasStr& operator=(const TPalabrasStr&) = delete;

    int Numero() const { return numero_; }
    const char* operator[](int i) const; // "" outside 0..Numero()-1

private:
    void Anyade(char* word);
    enum { kInline = 50 };
    char* inline_[kInline];
    char** palabras_ = inline_;
    int numero_ = 0;
    int capacidad_ = kInline;
};

// UTF-8 <-> wide helpers used by the types above.
DString Utf8FromWide(const wchar_t* w);
