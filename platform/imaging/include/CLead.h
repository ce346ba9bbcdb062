#pragma once
// The imaging control the picture loader hosts: recognises and decodes picture files and hands
// the picture out as a packed device-independent bitmap. This layer decodes with GDI+ and keeps
// the control's calls: results are 0 or an error code of the control.
//
// Every member may be called from any thread: the layer serialises its decoding itself (the
// loader's file test runs on element handler threads without the loader's own lock).
#include "CWnd.h"

#include <mutex>
#include <vector>

class CLead : public CWnd {
public:
    static constexpr short SUCCESS = 0;
    // The file is missing, empty, or not a picture the layer can decode.
    static constexpr short ERROR_INVALID_FILE_FORMAT = 20009;
    // A bit depth other than 24 asked of Load.
    static constexpr short ERROR_INVALID_BITS_PER_PIXEL = 20010;
    // The picture would need more memory than the layer holds for one picture.
    static constexpr short ERROR_NO_MEMORY = 20011;

    // A held picture beyond this is refused: 256 MiB at 24 bits (an 89-megapixel picture)
    // covers every photo the program shows, and keeps a packed copy of it far inside a 32-bit
    // size field and the address space.
    static constexpr SIZE_T MAX_PICTURE_BYTES = 256u << 20;
    // A picture file beyond this is refused: an uncompressed one of the largest picture, with
    // room for its headers and palette.
    static constexpr DWORD MAX_FILE_BYTES = MAX_PICTURE_BYTES + (64u << 10);

    CLead();
    ~CLead() override;

    // The control's window, a child of parent; no persistence, no storage.
    BOOL Create(LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id);

    // Dispatch id 56 and 20 of the control: accepted; they change nothing here.
    void SetShortProperty56(short value);
    void SetBoolProperty20(BOOL value);

    // SUCCESS when the file is a picture this layer can read; flags are not used.
    short GetFileInfo(LPCSTR path, short flags);
    // Decodes the picture and holds it at bits (only 24) per pixel; page and count are not
    // used. A failed load holds no picture.
    short Load(LPCSTR path, short bits, short page, short count);
    // The held picture as global memory the caller frees: a 40-byte header (positive height,
    // rows bottom up, BI_RGB, 24 bits), then the rows padded to 4 bytes, no colour table.
    // Null when no picture is held or the memory cannot be had.
    HGLOBAL GetDIB();

private:
    struct Picture {
        int width = 0;
        int height = 0;
        int stride = 0;                      // bytes per row, a multiple of 4
        std::vector<unsigned char> rows;     // bottom row first, as the packed form keeps them
    };
    // Decodes path; with picture null it only checks that the file decodes.
    static short decode(LPCSTR path, Picture* picture);

    std::mutex lock_;
    Picture held_;
    bool holding_ = false;
};
