#include "CLead.h"

#include "CPictureFormat.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <memory>

namespace {

// GDI+ starts once and stays for the life of the process: a shutdown while another thread
// still decodes would pull the library from under it.
std::once_flag g_gdiplusOnce;
bool g_gdiplusReady = false;

void startGdiplus() {
    std::call_once(g_gdiplusOnce, [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        g_gdiplusReady = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    });
}

// The whole file in movable global memory, or null.
HGLOBAL readFile(LPCSTR path, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    void* bytes = memory != nullptr ? GlobalLock(memory) : nullptr;
    DWORD read = 0;
    bool whole = bytes != nullptr && ReadFile(file, bytes, size, &read, nullptr) && read == size;
    if (bytes != nullptr)
        GlobalUnlock(memory);
    CloseHandle(file);
    if (!whole && memory != nullptr) {
        GlobalFree(memory);
        memory = nullptr;
    }
    return memory;
}

// GDI+ decodes while the file is open; the decoders of a process are not all safe to run at
// once, and the loader's file tests come from several threads.
std::mutex g_decodeLock;

}  // namespace

CLead::CLead() {
    startGdiplus();
}

CLead::~CLead() = default;

BOOL CLead::Create(LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    HWND parentWindow = parent != nullptr ? parent->GetSafeHwnd() : nullptr;
    // The site of a control is a child window of its host.
    if (parentWindow != nullptr)
        style |= WS_CHILD;
    return CreateEx(0, nullptr, windowName, style, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parentWindow,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

void CLead::SetShortProperty56(short) {}

void CLead::SetBoolProperty20(BOOL) {}

short CLead::decode(LPCSTR path, Picture* picture) {
    if (!g_gdiplusReady || path == nullptr || *path == '\0')
        return ERROR_INVALID_FILE_FORMAT;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)
        || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
        || (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0))
        return ERROR_INVALID_FILE_FORMAT;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > MAX_FILE_BYTES)
        return ERROR_NO_MEMORY;
    // The decoder reads a copy in memory: Wine's GDI+ keeps some files it failed to decode
    // open, and the program's own copy of a dropped file would stay locked.
    HGLOBAL memory = readFile(path, data.nFileSizeLow);
    if (memory == nullptr)
        return ERROR_INVALID_FILE_FORMAT;
    auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
    bool wellFormed = bytes != nullptr && CPictureFormat::isWellFormed(bytes, data.nFileSizeLow);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (!wellFormed || CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
        GlobalFree(memory);
        return ERROR_INVALID_FILE_FORMAT;
    }

    // The stream outlives the bitmap made from it.
    std::unique_ptr<IStream, void (*)(IStream*)> streamHold(stream, [](IStream* s) { s->Release(); });
    std::lock_guard<std::mutex> guard(g_decodeLock);
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream, FALSE));
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok)
        return ERROR_INVALID_FILE_FORMAT;
    UINT width = bitmap->GetWidth();
    UINT height = bitmap->GetHeight();
    if (width == 0 || height == 0 || width > 0x7FFFFFFF / 3 || height > 0x7FFFFFFF)
        return ERROR_INVALID_FILE_FORMAT;
    ULONGLONG stride = (static_cast<ULONGLONG>(width) * 3 + 3) & ~3ull;
    if (stride * height > MAX_PICTURE_BYTES)
        return ERROR_NO_MEMORY;
    if (picture == nullptr)
        return SUCCESS;

    Gdiplus::Rect area(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData locked;
    if (bitmap->LockBits(&area, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &locked) != Gdiplus::Ok)
        return ERROR_INVALID_FILE_FORMAT;
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->stride = static_cast<int>(stride);
    picture->rows.assign(static_cast<size_t>(stride * height), 0);
    const size_t used = static_cast<size_t>(width) * 3;
    for (UINT row = 0; row < height; ++row) {
        const auto* source = static_cast<const unsigned char*>(locked.Scan0)
                             + static_cast<ptrdiff_t>(row) * locked.Stride;
        std::memcpy(&picture->rows[static_cast<size_t>(height - 1 - row) * stride], source, used);
    }
    bitmap->UnlockBits(&locked);
    return SUCCESS;
}

short CLead::GetFileInfo(LPCSTR path, short) {
    return decode(path, nullptr);
}

short CLead::Load(LPCSTR path, short bits, short, short) {
    std::lock_guard<std::mutex> guard(lock_);
    holding_ = false;
    held_ = Picture();
    if (bits != 24)
        return ERROR_INVALID_BITS_PER_PIXEL;
    short result = decode(path, &held_);
    holding_ = result == SUCCESS;
    if (!holding_)
        held_ = Picture();
    return result;
}

HGLOBAL CLead::GetDIB() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!holding_)
        return nullptr;
    const size_t pixels = held_.rows.size();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + pixels);
    if (memory == nullptr)
        return nullptr;
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(memory));
    if (header == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    std::memset(header, 0, sizeof *header);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = held_.width;
    header->biHeight = held_.height;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;
    header->biSizeImage = static_cast<DWORD>(pixels);
    std::memcpy(header + 1, held_.rows.data(), pixels);
    GlobalUnlock(memory);
    return memory;
}
