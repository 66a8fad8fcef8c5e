#include "foundation/Json.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace {

// Whitespace is every byte from 1 to 32.
const char* Salta(const char* p, const char* fin) {
    while (p < fin && static_cast<unsigned char>(*p) <= 32)
        ++p;
    return p;
}

int ValorHexa(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AnyadeUtf8(unsigned codigo, std::string& destino) {
    if (codigo < 0x80) {
        destino += static_cast<char>(codigo);
    } else if (codigo < 0x800) {
        destino += static_cast<char>(0xC0 | (codigo >> 6));
        destino += static_cast<char>(0x80 | (codigo & 0x3F));
    } else {
        destino += static_cast<char>(0xE0 | (codigo >> 12));
        destino += static_cast<char>(0x80 | ((codigo >> 6) & 0x3F));
        destino += static_cast<char>(0x80 | (codigo & 0x3F));
    }
}

// strtod in the C locale, whatever locale the process runs in.
double StrtodC(const char* texto) {
    static locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(texto, nullptr, c_locale);
}

int32_t TruncaInt(double d) {
    if (std::isnan(d)) return 0;
    if (d >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (d <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

int64_t TruncaInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
}

CJSON* CreaTipo(int32_t tipo) {
    CJSON* nodo = new CJSON;
    nodo->type = tipo;
    return nodo;
}

} // namespace

CJSON::~CJSON() {
    Empty();
}

void CJSON::DestroyChain(CJSON* x) {
    // Children are spliced into the chain in front of the next sibling, so the whole tree is
    // released in one loop, without recursion.
    while (x) {
        if (x->child) {
            CJSON* ultimo = x->child;
            while (ultimo->next)
                ultimo = ultimo->next;
            ultimo->next = x->next;
            x->next = x->child;
            x->child = x->child_last = nullptr;
        }
        CJSON* siguiente = x->next;
        x->next = x->prev = nullptr;
        delete x;
        x = siguiente;
    }
}

void CJSON::Empty() {
    CJSON* hijos = child;
    child = child_last = nullptr;
    DestroyChain(hijos);
    CJSON* siguientes = next;
    next = nullptr;
    DestroyChain(siguientes);
}

CJSON* CJSON::CreateObject() {
    return CreaTipo(cJSON_Object);
}
CJSON* CJSON::CreateArray() {
    return CreaTipo(cJSON_Array);
}

CJSON* CJSON::CreateString(const char* texto) {
    CJSON* nodo = CreaTipo(cJSON_String);
    nodo->valuestring = texto;
    return nodo;
}

CJSON* CJSON::CreateNumber(double valor) {
    CJSON* nodo = CreaTipo(cJSON_Number);
    nodo->SetNumber(valor);
    return nodo;
}

void CJSON::SetNumber(double valor) {
    type = cJSON_Number;
    valuedouble = valor;
    valueint = TruncaInt(valor);
    valueint64 = TruncaInt64(valor);
}

void CJSON::Append(CJSON* item) {
    item->next = nullptr;
    if (!child) {
        item->prev = nullptr;
        child = child_last = item;
        return;
    }
    CJSON* ultimo = child_last;
    if (!ultimo) {
        ultimo = child;
        while (ultimo->next)
            ultimo = ultimo->next;
    }
    ultimo->next = item;
    item->prev = ultimo;
    child_last = item;
}

bool CJSON::AddItemToArray(CJSON* item) {
    if (type != cJSON_Array && type != cJSON_Object) return false;
    if (!item || item == this || item->next || item->prev) return false;
    Append(item);
    return true;
}

bool CJSON::AddItemToObject(const char* nombre, CJSON* item) {
    if (type != cJSON_Object) return false;
    if (!item || item == this || item->next || item->prev) return false;
    item->key = nombre;
    Append(item);
    return true;
}

bool CJSON::AddStringToObject(const char* nombre, const char* texto) {
    CJSON* item = CreateString(texto);
    if (AddItemToObject(nombre, item)) return true;
    delete item;
    return false;
}

bool CJSON::AddNumberToObject(const char* nombre, double valor) {
    CJSON* item = CreateNumber(valor);
    if (AddItemToObject(nombre, item)) return true;
    delete item;
    return false;
}

CJSON* CJSON::GetObjectItem(const char* nombre) const {
    if (type != cJSON_Object) return nullptr;
    DString buscado(nombre);
    buscado.A_Mayusculas();
    for (CJSON* c = child; c; c = c->next) {
        DString clave(c->key);
        clave.A_Mayusculas();
        if (clave.Strcmp(buscado) == 0) return c;
    }
    return nullptr;
}

int CJSON::GetArraySize() const {
    if (type != cJSON_Array) return 0;
    int n = 0;
    for (CJSON* c = child; c; c = c->next)
        ++n;
    return n;
}

CJSON* CJSON::GetArrayItem(int indice) const {
    if (type != cJSON_Array || indice < 0) return nullptr;
    CJSON* c = child;
    while (c && indice-- > 0)
        c = c->next;
    return c;
}

const char* CJSON::GetObjectValueString(const char* nombre) const {
    const CJSON* item = GetObjectItem(nombre);
    if (!item) return nullptr;
    return item->type == cJSON_String ? item->valuestring.c_str() : "";
}

int CJSON::GetObjectValueInt(const char* nombre) const {
    const CJSON* item = GetObjectItem(nombre);
    return item && (item->type == cJSON_Number || item->type == cJSON_True) ? item->valueint : 0;
}

int64_t CJSON::GetObjectValueInt64(const char* nombre) const {
    const CJSON* item = GetObjectItem(nombre);
    return item && (item->type == cJSON_Number || item->type == cJSON_True) ? item->valueint64 : 0;
}

bool CJSON::GetObjectValueTrue(const char* nombre) const {
    const CJSON* item = GetObjectItem(nombre);
    return item && item->type == cJSON_True;
}

// ---- Parsing ----

bool CJSON::Parse(const char* texto) {
    return texto && Parse(texto, std::strlen(texto));
}

bool CJSON::Parse(const char* texto, size_t n) {
    // A node is parsed afresh: children of an earlier parse are released first.
    CJSON* hijos = child;
    child = child_last = nullptr;
    DestroyChain(hijos);
    type = cJSON_False;
    valuestring = DString();
    valueint = 0;
    valueint64 = 0;
    valuedouble = 0.0;
    if (!texto) return false;
    const char* cero = static_cast<const char*>(std::memchr(texto, 0, n));
    const char* fin = cero ? cero : texto + n;
    return ParseValue(Salta(texto, fin), fin, 0) != nullptr;
}

const char* CJSON::ParseValue(const char* p, const char* fin, int profundidad) {
    if (p >= fin) return nullptr;
    const size_t resto = static_cast<size_t>(fin - p);
    if (resto >= 4 && std::memcmp(p, "null", 4) == 0) {
        type = cJSON_NULL;
        return p + 4;
    }
    if (resto >= 5 && std::memcmp(p, "false", 5) == 0) {
        type = cJSON_False;
        return p + 5;
    }
    if (resto >= 4 && std::memcmp(p, "true", 4) == 0) {
        type = cJSON_True;
        valueint = 1;
        valueint64 = 1;
        return p + 4;
    }
    if (*p == '"') {
        p = ParseString(p, fin, valuestring);
        if (p) type = cJSON_String;
        return p;
    }
    if (*p == '-' || (*p >= '0' && *p <= '9')) return ParseNumber(p, fin);
    if (*p == '[') return ParseArray(p, fin, profundidad + 1);
    if (*p == '{') return ParseObject(p, fin, profundidad + 1);
    return nullptr;
}

// Bytes up to a double quote (consumed) or a control byte (not consumed). Escapes \b \f \n \r \t,
// \uXXXX (exactly four hex digits, written as UTF-8 of 1 to 3 bytes; \u0000 is dropped) and a
// backslash before any other byte for that byte. A string cut off by the end of the text fails.
const char* CJSON::ParseString(const char* p, const char* fin, DString& destino) {
    std::string texto;
    ++p; // the opening quote
    for (;;) {
        if (p >= fin) return nullptr;
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            ++p;
            break;
        }
        if (c < 32) break;
        if (c != '\\') {
            texto += static_cast<char>(c);
            ++p;
            continue;
        }
        if (++p >= fin) return nullptr;
        switch (*p) {
        case 'b':
            texto += '\b';
            break;
        case 'f':
            texto += '\f';
            break;
        case 'n':
            texto += '\n';
            break;
        case 'r':
            texto += '\r';
            break;
        case 't':
            texto += '\t';
            break;
        case 'u': {
            if (fin - p < 5) return nullptr;
            unsigned codigo = 0;
            for (int i = 1; i <= 4; ++i) {
                const int v = ValorHexa(p[i]);
                if (v < 0) return nullptr;
                codigo = codigo * 16 + static_cast<unsigned>(v);
            }
            if (codigo != 0) AnyadeUtf8(codigo, texto);
            p += 4;
            break;
        }
        default:
            texto += *p;
            break;
        }
        ++p;
    }
    destino = texto.c_str();
    return p;
}

// Optional '-', one leading '0' skipped, integer digits, a '.' followed by at least one digit,
// and an exponent ('e' or 'E', optional sign, digits). The value is read in the C locale.
const char* CJSON::ParseNumber(const char* p, const char* fin) {
    auto digito = [&](const char* q) { return q < fin && *q >= '0' && *q <= '9'; };
    std::string numero;
    bool negativo = false;
    if (p < fin && *p == '-') {
        negativo = true;
        ++p;
    }
    if (p < fin && *p == '0') ++p;
    if (p < fin && *p >= '1' && *p <= '9')
        while (digito(p))
            numero += *p++;
    if (p < fin && *p == '.' && digito(p + 1)) {
        if (numero.empty()) numero += '0';
        numero += *p++;
        while (digito(p))
            numero += *p++;
    }
    if (p < fin && (*p == 'e' || *p == 'E')) {
        ++p;
        std::string exponente = "e";
        if (p < fin && (*p == '+' || *p == '-')) exponente += *p++;
        bool con_digitos = false;
        while (digito(p)) {
            exponente += *p++;
            con_digitos = true;
        }
        if (con_digitos && !numero.empty()) numero += exponente;
    }
    double valor = numero.empty() ? 0.0 : StrtodC(numero.c_str());
    SetNumber(negativo ? -valor : valor);
    return p;
}

const char* CJSON::ParseArray(const char* p, const char* fin, int profundidad) {
    type = cJSON_Array;
    if (profundidad > kMaxProfundidad) return nullptr;
    p = Salta(p + 1, fin);
    if (p < fin && *p == ']') return p + 1;
    for (;;) {
        CJSON* item = new CJSON;
        Append(item);
        p = item->ParseValue(Salta(p, fin), fin, profundidad);
        if (!p) return nullptr;
        p = Salta(p, fin);
        if (p >= fin) return nullptr;
        if (*p == ']') return p + 1;
        if (*p != ',') return nullptr;
        ++p;
    }
}

const char* CJSON::ParseObject(const char* p, const char* fin, int profundidad) {
    type = cJSON_Object;
    if (profundidad > kMaxProfundidad) return nullptr;
    p = Salta(p + 1, fin);
    if (p < fin && *p == '}') return p + 1;
    for (;;) {
        CJSON* item = new CJSON;
        Append(item);
        p = Salta(p, fin);
        if (p >= fin || *p != '"') return nullptr;
        p = ParseString(p, fin, item->key);
        if (!p) return nullptr;
        p = Salta(p, fin);
        if (p >= fin || *p != ':') return nullptr;
        p = item->ParseValue(Salta(p + 1, fin), fin, profundidad);
        if (!p) return nullptr;
        p = Salta(p, fin);
        if (p >= fin) return nullptr;
        if (*p == '}') return p + 1;
        if (*p != ',') return nullptr;
        ++p;
    }
}

// ---- Printing ----

bool CJSON::PrintUnformatted(DString& salida) const {
    std::string texto;
    PrintValue(0, false, texto);
    salida = texto.c_str();
    return true;
}

void CJSON::PrintValue(int profundidad, bool formatted, std::string& salida) const {
    switch (type) {
    case cJSON_False:
        salida += "false";
        break;
    case cJSON_True:
        salida += "true";
        break;
    case cJSON_Number:
        PrintNumber(salida);
        break;
    case cJSON_String:
        PrintStringPtr(valuestring.c_str(), salida);
        break;
    case cJSON_Array:
        PrintArray(profundidad, formatted, salida);
        break;
    case cJSON_Object:
        PrintObject(profundidad, formatted, salida);
        break;
    default:
        salida += "null";
        break;
    }
}

// Four cases: an int-valued number inside the int range with "%d"; another whole number with
// "%.0f"; a very small or very large one with "%e"; anything else with seven decimals. Numbers
// that JSON cannot write (infinities, NaN) print as null.
void CJSON::PrintNumber(std::string& salida) const {
    const double d = valuedouble;
    DString texto;
    if (!std::isfinite(d)) {
        texto = "null";
    } else if (d >= INT_MIN && d <= INT_MAX && std::fabs(valueint - d) <= DBL_EPSILON) {
        texto.Dsprintf("%d", valueint);
    } else if (std::fabs(std::floor(d) - d) <= DBL_EPSILON) {
        texto.Dsprintf("%.0f", d);
    } else if (std::fabs(d) < 1.0e-6 || std::fabs(d) > 1.0e9) {
        texto.Dsprintf("%e", d);
    } else {
        texto.SetPrecision_Floats(7);
        texto << d;
    }
    salida += texto.c_str();
}

void CJSON::PrintStringPtr(const char* texto, std::string& salida) {
    salida += '"';
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(texto ? texto : ""); *p; ++p) {
        switch (*p) {
        case '"':
            salida += "\\\"";
            break;
        case '\\':
            salida += "\\\\";
            break;
        case '\b':
            salida += "\\b";
            break;
        case '\f':
            salida += "\\f";
            break;
        case '\n':
            salida += "\\n";
            break;
        case '\r':
            salida += "\\r";
            break;
        case '\t':
            salida += "\\t";
            break;
        default:
            if (*p >= 32) salida += static_cast<char>(*p);
            break;
        }
    }
    salida += '"';
}

void CJSON::PrintArray(int profundidad, bool formatted, std::string& salida) const {
    salida += '[';
    for (const CJSON* c = child; c; c = c->next) {
        if (c != child) salida += ',';
        c->PrintValue(profundidad + 1, formatted, salida);
    }
    salida += ']';
}

void CJSON::PrintObject(int profundidad, bool formatted, std::string& salida) const {
    salida += '{';
    for (const CJSON* c = child; c; c = c->next) {
        if (c != child) salida += ',';
        PrintStringPtr(c->key.c_str(), salida);
        salida += ':';
        c->PrintValue(profundidad + 1, formatted, salida);
    }
    salida += '}';
}
