#include "AfxLibrary.h"

HINSTANCE AfxLoadLibrary(LPCSTR path) {
    return LoadLibraryA(path);
}

BOOL AfxFreeLibrary(HINSTANCE module) {
    return module != nullptr && FreeLibrary(module);
}
