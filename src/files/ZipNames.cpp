#include "files/ZipNames.h"

#include <cstring>

ENombreEntrada Limpia_Nombre_Entrada(const char* name, size_t len, std::string& clean) {
    clean.clear();
    if (len == 0) return ENombreEntrada::Vacio;
    if (std::memchr(name, 0, len) != nullptr) return ENombreEntrada::Hostil;
    std::string s(name, len);
    for (char& c : s)
        if (c == '\\') c = '/';
    if (s[0] == '/' || s.find(':') != std::string::npos) return ENombreEntrada::Hostil;
    bool carpeta = s.back() == '/';
    if (carpeta) s.pop_back();

    size_t p = 0;
    for (;;) {
        size_t q = s.find('/', p);
        size_t fin = q == std::string::npos ? s.size() : q;
        if (fin == p) return ENombreEntrada::Hostil; // empty component
        std::string comp = s.substr(p, fin - p);
        if (comp == "..") return ENombreEntrada::Hostil;
        if (comp != ".") {
            if (!clean.empty()) clean += '/';
            clean += comp;
        }
        if (q == std::string::npos) break;
        p = q + 1;
    }
    if (clean.empty()) return carpeta ? ENombreEntrada::Vacio : ENombreEntrada::Hostil;
    return carpeta ? ENombreEntrada::Carpeta : ENombreEntrada::Archivo;
}
