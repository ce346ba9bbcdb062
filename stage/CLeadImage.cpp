#include "CLeadImage.h"

#include "CFile.h"
#include "CMonitorHold.h"
#include "CTrace.h"

#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char SCOPE[] = "CLeadImage";

const char* const PICTURE_EXTENSIONS[] = {".bmp", ".jpg", ".jpe", ".jpeg", ".gif"};

// The header of every conversion, with room for the largest colour table.
struct BlockInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

// Top-down rows (negative height), no compression, no colour count: the block's form.
void fillHeader(BlockInfo* info, int width, int height, int bits) {
    std::memset(info, 0, sizeof *info);
    info->header.biSize = sizeof(BITMAPINFOHEADER);
    info->header.biWidth = width;
    info->header.biHeight = -height;
    info->header.biPlanes = 1;
    info->header.biBitCount = static_cast<WORD>(bits);
    info->header.biCompression = BI_RGB;
}

// A block carries no colour table: depths up to 8 bits are read as greys from black to white,
// or (inverted) from white to black.
void fillGreys(BlockInfo* info, int bits, bool inverted) {
    if (bits > 8)
        return;
    int count = 1 << bits;
    for (int i = 0; i < count; ++i) {
        int level = i * 255 / (count - 1);
        auto grey = static_cast<BYTE>(inverted ? 255 - level : level);
        info->colours[i] = RGBQUAD{grey, grey, grey, 0};
    }
}

long long paddedRow(long long width, int bits) {
    return (width * bits + 31) / 32 * 4;
}

std::string lastError() {
    return "error " + std::to_string(GetLastError());
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return true;
}

// Reads a bitmap into a new block at its own size and depth; 0 when it cannot.
int bitmapToBlock(HDC dc, HBITMAP bitmap, unsigned char** block, short* bits) {
    BITMAP description;
    if (bitmap == nullptr || GetObjectA(bitmap, sizeof description, &description) == 0) {
        CTrace::trace(SCOPE, " no bitmap description of the icon's part", 0);
        return 0;
    }
    int depth = description.bmBitsPixel * description.bmPlanes;
    long long length = paddedRow(description.bmWidth, depth) * description.bmHeight;
    if (length <= 0 || length > 0x7FFFFFFF) {
        CTrace::scopedError(SCOPE, " icon bitmap of " + std::to_string(length) + " bytes: no block", -1);
        return 0;
    }
    BlockInfo info;
    fillHeader(&info, description.bmWidth, description.bmHeight, depth);
    auto* pixels = new (std::nothrow) unsigned char[static_cast<size_t>(length)];
    if (pixels == nullptr)
        CTrace::scopedFatalError(SCOPE, " no memory for an icon block of " + std::to_string(length) + " bytes", -1);
    std::memset(pixels, 0, static_cast<size_t>(length));
    int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(description.bmHeight), pixels,
                         reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    if (rows == 0) {
        CTrace::scopedError(SCOPE, " GetDIBits() read no rows of the icon: " + lastError(), -1);
        delete[] pixels;
        return 0;
    }
    *block = pixels;
    *bits = static_cast<short>(depth);
    return static_cast<int>(length);
}

}  // namespace

std::atomic<CLeadImage*> CLeadImage::s_instance{nullptr};

CLeadImage::CLeadImage() {
    if (!initialize())
        CTrace::scopedFatalError(SCOPE, " CLeadImage(): initialize() failed", -1);
    s_instance = this;
}

CLeadImage::~CLeadImage() {
    s_instance = nullptr;
    DestroyWindow();
}

bool CLeadImage::initialize() {
    LPCSTR className = RegisterWndClass(CS_GLOBALCLASS);
    if (className == nullptr
        || !CreateEx(0, className, "LEADTOOLS OCX Container", 0, 0, 0, 1, 1, nullptr, nullptr)) {
        CTrace::scopedError(SCOPE, " initialize(): cannot create the host window: " + lastError(), -1);
        return false;
    }
    RECT area{0, 0, 1, 1};
    if (!lead_.Create("", 0, area, this, 0)) {
        CTrace::scopedError(SCOPE, " initialize(): cannot create the imaging control: " + lastError(), -1);
        return false;
    }
    lead_.SetShortProperty56(3);
    lead_.SetBoolProperty20(FALSE);
    return true;
}

CLeadImage* CLeadImage::instance(const char* operation) {
    CLeadImage* self = s_instance;
    CTrace::scopedAssertTrue(self != nullptr, SCOPE,
                             std::string(" ") + operation + "(): the picture loader has not been created", -1);
    return self;
}

bool CLeadImage::isConvertibleExt(const std::string& path) {
    if (path.empty())
        return false;
    size_t nameStart = path.find_last_of("\\/:");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return false;
    std::string extension = path.substr(dot);
    for (const char* picture : PICTURE_EXTENSIONS)
        if (equalsIgnoringCase(extension, picture))
            return true;
    return false;
}

bool CLeadImage::isImageFile(const std::string& path) {
    CLeadImage* self = instance("isImageFile");
    if (!isConvertibleExt(path))
        return false;
    CFileStatus status;
    if (!CFile::GetStatus(path.c_str(), status) || status.m_size == 0)
        return false;
    short code = self->lead_.GetFileInfo(path.c_str(), 0);
    if (code != CLead::SUCCESS) {
        CTrace::trace(SCOPE, " isImageFile(" + path + "): GetFileInfo() gave " + std::to_string(code), 0);
        return false;
    }
    return true;
}

unsigned char* CLeadImage::createDIB(const std::string& path, int* width, int* height, int* length) {
    CLeadImage* self = instance("createDIB");
    *length = 0;
    CMonitorHold hold(self->monitor_, 1, SCOPE);
    short code = self->lead_.GetFileInfo(path.c_str(), 0);
    if (code != CLead::SUCCESS) {
        CTrace::trace(SCOPE, " createDIB(" + path + "): GetFileInfo() gave " + std::to_string(code), 0);
        return nullptr;
    }
    code = self->lead_.Load(path.c_str(), 24, 0, -1);
    if (code != CLead::SUCCESS) {
        CTrace::trace(SCOPE, " createDIB(" + path + "): Load() gave " + std::to_string(code), 0);
        return nullptr;
    }
    HGLOBAL dib = self->lead_.GetDIB();
    if (dib == nullptr) {
        CTrace::trace(SCOPE, " createDIB(" + path + "): GetDIB() gave no picture", 0);
        return nullptr;
    }
    unsigned char* block = nullptr;
    auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
    if (header == nullptr) {
        CTrace::trace(SCOPE, " createDIB(): cannot lock the picture: " + lastError(), 0);
    } else {
        block = fitDIB(width, height, header, GlobalSize(dib), length);
        SetLastError(NO_ERROR);
        if (!GlobalUnlock(dib) && GetLastError() != NO_ERROR && GetLastError() != ERROR_NOT_LOCKED)
            CTrace::trace(SCOPE, " createDIB(): GlobalUnlock() failed: " + lastError(), 0);
    }
    if (GlobalFree(dib) != nullptr)
        CTrace::scopedError(SCOPE, " createDIB(): GlobalFree() failed: " + lastError(), -1);
    CTrace::trace(SCOPE, " createDIB(" + path + "): " + std::to_string(*length) + " bytes", 0);
    return block;
}

unsigned char* CLeadImage::fitDIB(int* width, int* height, const BITMAPINFOHEADER* source, SIZE_T sourceBytes,
                                  int* length) {
    CTrace::scopedAssertTrue(source != nullptr, SCOPE, " fitDIB(): no source picture", -1);
    *length = 0;
    if (sourceBytes < sizeof(BITMAPINFOHEADER) || source->biSize < sizeof(BITMAPINFOHEADER)
        || source->biSize > sourceBytes) {
        CTrace::scopedError(SCOPE, " fitDIB(): the source has no whole header", -1);
        return nullptr;
    }
    long long w = source->biWidth;
    long long h = std::llabs(static_cast<long long>(source->biHeight));
    if (w == 0 || h == 0) {
        CTrace::scopedError(SCOPE, " fitDIB(): source of width or height 0 (division by zero)", -1);
        return nullptr;
    }
    if (w < 0 || source->biBitCount != 24 || source->biCompression != BI_RGB
        || paddedRow(w, 24) * h > static_cast<long long>(sourceBytes - source->biSize)) {
        CTrace::scopedError(SCOPE, " fitDIB(): the source is no whole 24-bit picture", -1);
        return nullptr;
    }
    long long W = *width;
    long long H = *height;
    if (W <= 0 || H <= 0) {
        CTrace::scopedError(SCOPE, " fitDIB(): rectangle " + std::to_string(W) + " x " + std::to_string(H), -1);
        return nullptr;
    }
    // Within 32 bits these are the truncating quotients of the rule; the wide products only
    // keep a large picture from overflowing. A side that truncates to 0 keeps one pixel.
    if (w * H > h * W)
        H = W * h / w;
    else if (w * H < h * W)
        W = H * w / h;
    if (W == 0)
        W = 1;
    if (H == 0)
        H = 1;
    if (paddedRow(W, 24) * H > static_cast<long long>(CLead::MAX_PICTURE_BYTES)) {
        CTrace::scopedError(SCOPE, " fitDIB(): fitted picture " + std::to_string(W) + " x " + std::to_string(H)
                                       + " too large",
                            -1);
        return nullptr;
    }
    const int fittedWidth = static_cast<int>(W);
    const int fittedHeight = static_cast<int>(H);

    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) {
        CTrace::scopedError(SCOPE, " fitDIB(): no memory device context: " + lastError(), -1);
        return nullptr;
    }
    int previousMode = SetStretchBltMode(dc, COLORONCOLOR);
    BlockInfo info;
    fillHeader(&info, fittedWidth, fittedHeight, 24);
    void* sectionBits = nullptr;
    HBITMAP section = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &sectionBits,
                                       nullptr, 0);
    unsigned char* block = nullptr;
    if (section == nullptr) {
        CTrace::scopedError(SCOPE, " fitDIB(): no DIB section: " + lastError(), -1);
    } else {
        HGDIOBJ previous = SelectObject(dc, section);
        const auto* pixels = reinterpret_cast<const unsigned char*>(source) + source->biSize;
        int lines = StretchDIBits(dc, 0, 0, fittedWidth, fittedHeight, 0, 0, static_cast<int>(w),
                                  static_cast<int>(h), pixels, reinterpret_cast<const BITMAPINFO*>(source),
                                  DIB_RGB_COLORS, SRCCOPY);
        SelectObject(dc, previous);
        BITMAP description;
        if (lines == 0 || lines == static_cast<int>(GDI_ERROR)) {
            CTrace::trace(SCOPE, " fitDIB(): StretchDIBits() failed: " + lastError(), 0);
        } else if (GetObjectA(section, sizeof description, &description) == 0) {
            CTrace::trace(SCOPE, " fitDIB(): no description of the section: " + lastError(), 0);
        } else {
            int row = (description.bmWidthBytes + 3) & ~3;
            int size = row * fittedHeight;
            block = new (std::nothrow) unsigned char[static_cast<size_t>(size)];
            if (block == nullptr) {
                CTrace::scopedError(SCOPE, " fitDIB(): no memory for " + std::to_string(size) + " bytes", -1);
            } else if (GetDIBits(dc, section, 0, static_cast<UINT>(fittedHeight), block,
                                 reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS)
                       == 0) {
                CTrace::trace(SCOPE, " fitDIB(): GetDIBits() read no rows: " + lastError(), 0);
                delete[] block;
                block = nullptr;
            } else {
                *width = fittedWidth;
                *height = fittedHeight;
                *length = size;
            }
        }
        DeleteObject(section);
    }
    SetStretchBltMode(dc, previousMode);
    DeleteDC(dc);
    return block;
}

int CLeadImage::createIconDIB(const std::string& path, unsigned char** block, short* bits, int part, int width,
                              int height) {
    CLeadImage* self = instance("createIconDIB");
    CMonitorHold hold(self->monitor_, 2, SCOPE);
    *block = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr)
        CTrace::scopedFatalError(SCOPE, " createIconDIB(): no memory device context: " + lastError(), -1);

    int length = 0;
    // The shell may write the icon's source path into the buffer.
    char buffer[MAX_PATH];
    WORD index = 0;
    HICON icon = nullptr;
    if (path.size() < sizeof buffer) {
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        icon = ExtractAssociatedIconA(GetModuleHandleA(nullptr), buffer, &index);
    }
    if (icon == nullptr) {
        CTrace::trace(SCOPE, " createIconDIB(" + path + "): no associated icon", 0);
    } else {
        auto resized = static_cast<HICON>(CopyImage(icon, IMAGE_ICON, width, height, LR_COPYDELETEORG));
        if (resized == nullptr) {
            CTrace::trace(SCOPE, " createIconDIB(" + path + "): the icon cannot be resized: " + lastError(), 0);
            DestroyIcon(icon);
        } else {
            ICONINFO parts;
            if (!GetIconInfo(resized, &parts)) {
                CTrace::trace(SCOPE, " createIconDIB(" + path + "): no bitmaps of the icon: " + lastError(), 0);
            } else {
                length = bitmapToBlock(dc, part == 0 ? parts.hbmColor : parts.hbmMask, block, bits);
                // GetIconInfo made both bitmaps for the caller.
                if (parts.hbmColor != nullptr)
                    DeleteObject(parts.hbmColor);
                if (parts.hbmMask != nullptr)
                    DeleteObject(parts.hbmMask);
            }
            DestroyIcon(resized);
        }
    }
    DeleteDC(dc);
    return length;
}

int CLeadImage::createIconDIBOf(const std::string& path, unsigned char** block, short* bits, int width, int height) {
    return createIconDIB(path, block, bits, 0, width, height);
}

int CLeadImage::createIconMaskDIBOf(const std::string& path, unsigned char** block, short* bits, int width,
                                    int height) {
    return createIconDIB(path, block, bits, 1, width, height);
}

bool CLeadImage::isWholeBlock(const char* operation, const unsigned char* block, int length, int width, int height,
                              short bits) {
    std::string problem;
    if (block == nullptr)
        problem = "no block";
    else if (width < 1 || width > MAX_PICTURE_SIDE || height < 1 || height > MAX_PICTURE_SIDE)
        problem = "size " + std::to_string(width) + " x " + std::to_string(height);
    else if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        problem = "depth " + std::to_string(bits);
    else if (static_cast<long long>(length) != paddedRow(width, bits) * height)
        problem = "length " + std::to_string(length) + " for " + std::to_string(width) + " x "
                  + std::to_string(height) + " at " + std::to_string(bits) + " bits";
    if (problem.empty())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + operation + "(): refused block: " + problem, -1);
    return false;
}

HBITMAP CLeadImage::getBitmapHandle(const unsigned char* block, int length, int width, int height, short bits) {
    CLeadImage* self = instance("getBitmapHandle");
    CMonitorHold hold(self->monitor_, 3, SCOPE);
    if (!isWholeBlock("getBitmapHandle", block, length, width, height, bits))
        return nullptr;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        CTrace::scopedError(SCOPE, " getBitmapHandle(): no screen device context", -1);
        return nullptr;
    }
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    if (bitmap == nullptr) {
        CTrace::trace(SCOPE, " getBitmapHandle(): CreateCompatibleBitmap() failed: " + lastError(), 0);
    } else {
        BlockInfo info;
        fillHeader(&info, width, height, bits);
        fillGreys(&info, bits, false);
        if (SetDIBits(screen, bitmap, 0, static_cast<UINT>(height), block, reinterpret_cast<BITMAPINFO*>(&info),
                      DIB_RGB_COLORS)
            == 0) {
            CTrace::trace(SCOPE, " getBitmapHandle(): SetDIBits() copied no rows: " + lastError(), 0);
            DeleteObject(bitmap);
            bitmap = nullptr;
        }
    }
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HBITMAP CLeadImage::getBitmapHandleEx(const unsigned char* block, int length, int width, int height, short bits) {
    CLeadImage* self = instance("getBitmapHandleEx");
    CMonitorHold hold(self->monitor_, 4, SCOPE);
    if (!isWholeBlock("getBitmapHandleEx", block, length, width, height, bits))
        return nullptr;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        CTrace::scopedError(SCOPE, " getBitmapHandleEx(): no screen device context", -1);
        return nullptr;
    }
    BlockInfo info;
    fillHeader(&info, width, height, bits);
    HBITMAP bitmap = nullptr;
    if (bits == 1) {
        // A mask: bit 1 lets the background show. Read through an inverted table it arrives
        // inverted, as getIconHandle expects it.
        fillGreys(&info, 1, true);
        bitmap = CreateBitmap(width, height, 1, 1, nullptr);
        if (bitmap != nullptr
            && SetDIBits(screen, bitmap, 0, static_cast<UINT>(height), block, reinterpret_cast<BITMAPINFO*>(&info),
                         DIB_RGB_COLORS)
                   == 0) {
            DeleteObject(bitmap);
            bitmap = nullptr;
        }
    } else {
        fillGreys(&info, bits, false);
        bitmap = CreateDIBitmap(screen, &info.header, CBM_INIT, block, reinterpret_cast<BITMAPINFO*>(&info),
                                DIB_RGB_COLORS);
    }
    if (bitmap == nullptr)
        CTrace::scopedError(SCOPE, " getBitmapHandleEx(): no bitmap made: " + lastError(), -1);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HICON CLeadImage::getIconHandle(HBITMAP colour, HBITMAP mask, int xHotSpot, int yHotSpot) {
    CLeadImage* self = instance("getIconHandle");
    CMonitorHold hold(self->monitor_, 5, SCOPE);
    BITMAP description;
    if (mask == nullptr || GetObjectA(mask, sizeof description, &description) == 0) {
        CTrace::trace(SCOPE, " getIconHandle(): no mask bitmap", 0);
        return nullptr;
    }
    HBITMAP monochrome = mask;
    if (description.bmBitsPixel != 1 || description.bmPlanes != 1) {
        monochrome = static_cast<HBITMAP>(CopyImage(mask, IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
        if (monochrome == nullptr) {
            CTrace::trace(SCOPE, " getIconHandle(): the mask cannot be made monochrome: " + lastError(), 0);
            return nullptr;
        }
    }

    HICON icon = nullptr;
    HDC source = CreateCompatibleDC(nullptr);
    HDC target = CreateCompatibleDC(nullptr);
    HBITMAP inverted = nullptr;
    if (source == nullptr || target == nullptr) {
        CTrace::trace(SCOPE, " getIconHandle(): no memory device contexts: " + lastError(), 0);
    } else {
        inverted = static_cast<HBITMAP>(CopyImage(monochrome, IMAGE_BITMAP, description.bmWidth,
                                                  description.bmHeight, LR_CREATEDIBSECTION));
        if (inverted == nullptr) {
            CTrace::trace(SCOPE, " getIconHandle(): no copy of the mask: " + lastError(), 0);
        } else {
            HGDIOBJ previousSource = SelectObject(source, monochrome);
            HGDIOBJ previousTarget = SelectObject(target, inverted);
            BOOL blitted = BitBlt(target, 0, 0, description.bmWidth, description.bmHeight, source, 0, 0, NOTSRCCOPY);
            SelectObject(source, previousSource);
            SelectObject(target, previousTarget);
            if (!blitted) {
                CTrace::trace(SCOPE, " getIconHandle(): the mask cannot be inverted: " + lastError(), 0);
            } else {
                ICONINFO parts{};
                parts.fIcon = TRUE;
                parts.xHotspot = static_cast<DWORD>(xHotSpot);
                parts.yHotspot = static_cast<DWORD>(yHotSpot);
                parts.hbmMask = inverted;
                parts.hbmColor = colour;
                icon = CreateIconIndirect(&parts);
                if (icon == nullptr)
                    CTrace::trace(SCOPE, " getIconHandle(): CreateIconIndirect() failed: " + lastError(), 0);
            }
        }
    }
    if (inverted != nullptr)
        DeleteObject(inverted);
    if (target != nullptr)
        DeleteDC(target);
    if (source != nullptr)
        DeleteDC(source);
    if (monochrome != mask)
        DeleteObject(monochrome);
    return icon;
}
