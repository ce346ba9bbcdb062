#include "AfxRichEdit.h"

#include <mutex>

BOOL AfxInitRichEdit() {
    static std::once_flag once;
    static HMODULE module = nullptr;
    std::call_once(once, [] { module = LoadLibraryA("RICHED20.DLL"); });
    return module != nullptr;
}
