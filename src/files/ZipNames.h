// Checks on entry names read from archives (zip and tar), before anything is made from them.
//
// A name is untrusted. After '\' is turned into '/', it is refused (Hostil) when it holds a NUL
// byte, begins with '/', holds a ':' anywhere (drive letters included), has an empty component
// ("a//b") or a ".." component. "." components are dropped. Only a name that ends in '/' is a
// folder. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>

enum class ENombreEntrada {
    Archivo, // a file: clean holds the relative path
    Carpeta, // a folder: clean holds the relative path without the final '/'
    Vacio,   // nothing to make (an empty name, or a folder made only of "." components)
    Hostil,  // refused
};

// Cleans the first len bytes of name into clean ('/'-separated, no "." components).
ENombreEntrada Limpia_Nombre_Entrada(const char* name, size_t len, std::string& clean);
inline ENombreEntrada Limpia_Nombre_Entrada(const std::string& name, std::string& clean) {
    return Limpia_Nombre_Entrada(name.data(), name.size(), clean);
}
