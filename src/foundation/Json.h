// CJSON: a JSON value as a linked tree of nodes, one class for every kind.
//
// Ownership: a node owns its first child and the sibling that follows it, so destroying a node
// destroys its subtree and every later sibling (unlink a node first to destroy it alone).
// Destruction is iterative: any length or depth of tree is safe. Items handed to AddItemTo...
// become the container's; nodes returned by lookups are borrowed. Member lookup ignores letter
// case (Unicode upper-casing of both names). One tree belongs to one thread at a time.
#pragma once

#include "foundation/DString.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CJSON {
public:
    enum Tipo : int32_t {
        cJSON_False = 0,
        cJSON_True = 1,
        cJSON_NULL = 2,
        cJSON_Number = 3,
        cJSON_String = 4,
        cJSON_Array = 5,
        cJSON_Object = 6,
    };
    // Arrays and objects nested deeper than this make Parse fail.
    enum : int { kMaxProfundidad = 512 };

    CJSON() = default; // kind false, no links, empty texts, zero numbers
    virtual ~CJSON();
    CJSON(const CJSON&) = delete;
    CJSON& operator=(const CJSON&) = delete;

    // Destroys the children and every sibling after this node; kind and values stay.
    void Empty();

    // Factories: the caller owns the new node.
    static CJSON* CreateObject();
    static CJSON* CreateArray();
    static CJSON* CreateString(const char* texto);
    static CJSON* CreateNumber(double valor); // int values truncated toward zero, saturated

    // Adding: false (item stays the caller's) when this node is of the wrong kind or the item is
    // null, this node, or still linked to siblings.
    bool AddItemToObject(const char* nombre, CJSON* item); // objects only; sets the item's key
    bool AddItemToArray(CJSON* item);                      // arrays and objects; key untouched
    bool AddStringToObject(const char* nombre, const char* texto);
    bool AddNumberToObject(const char* nombre, double valor);

    // Lookups (borrowed results; a node of the wrong kind gives null, 0 or "").
    CJSON* GetObjectItem(const char* nombre) const; // first member whose name matches ignoring case
    int GetArraySize() const;
    CJSON* GetArrayItem(int indice) const;
    // The member's text; "" when it is not a string; null when there is no such member.
    const char* GetObjectValueString(const char* nombre) const;
    int GetObjectValueInt(const char* nombre) const; // 0 when absent or not a number
    int64_t GetObjectValueInt64(const char* nombre) const;
    bool GetObjectValueTrue(const char* nombre) const;

    // Parses one value at the start of the text (after whitespace); what follows it is not read.
    // Lenient: see Json.cpp. On failure returns false and keeps what was built so far. Reading
    // stops at the first zero byte or after n bytes, whichever comes first.
    bool Parse(const char* texto);
    bool Parse(const char* texto, size_t n);
    bool Parse(const CDString& texto) { return Parse(texto.c_str(), static_cast<size_t>(texto.Length())); }

    // Replaces `salida` with the compact text of this node. Numbers are written in the C locale.
    bool PrintUnformatted(DString& salida) const;

    int32_t type = cJSON_False;
    CJSON* next = nullptr;
    CJSON* prev = nullptr;
    CJSON* child = nullptr;
    CJSON* child_last = nullptr;
    DString valuestring;
    int32_t valueint = 0;   // the number truncated toward zero, saturated to the int range
    int64_t valueint64 = 0; // the same in 64 bits
    double valuedouble = 0.0;
    DString key; // the member name inside an object

private:
    void SetNumber(double valor);
    void Append(CJSON* item);
    static void DestroyChain(CJSON* primero);

    // Each parser takes the text position of its value and returns the position after it, or
    // null on failure. `fin` is one past the last byte that may be read.
    const char* ParseValue(const char* p, const char* fin, int profundidad);
    const char* ParseString(const char* p, const char* fin, DString& destino);
    const char* ParseNumber(const char* p, const char* fin);
    const char* ParseArray(const char* p, const char* fin, int profundidad);
    const char* ParseObject(const char* p, const char* fin, int profundidad);

    void PrintValue(int profundidad, bool formatted, std::string& salida) const;
    void PrintNumber(std::string& salida) const;
    static void PrintStringPtr(const char* texto, std::string& salida);
    void PrintArray(int profundidad, bool formatted, std::string& salida) const;
    void PrintObject(int profundidad, bool formatted, std::string& salida) const;
};
