#pragma once
// The program's picture loader: tells picture files, scales pictures into pixel blocks, takes
// the icon of a program file apart into pixel blocks, and turns blocks back into bitmaps and
// icons. One instance per process (the hidden host window of the imaging control); every
// working operation is static and reaches it through the class-wide pointer.
//
// A pixel block holds rows only: top row first, each row padded with zeros to a multiple of
// 4 bytes, at a stated bit depth (24 for pictures); its length is the padded row times the
// height. Width, height, depth and length travel beside it. Blocks the loader returns are
// allocated with new[] and belong to the caller (delete[]).
#include "CJObject.h"
#include "CLead.h"
#include "CWnd.h"

#include <atomic>
#include <string>

class CLeadImage : public CWnd {
public:
    // Largest side of a block turned back into a bitmap: above every picture the program
    // makes (800 x 400 at most); blocks come from peers.
    static constexpr int MAX_PICTURE_SIDE = 2048;

    // Builds the hidden host and its control; a failure ends the process.
    CLeadImage();
    ~CLeadImage() override;

    // True for a non-empty path whose extension (from the file name's last dot) is .bmp,
    // .jpg, .jpe, .jpeg or .gif in any case.
    static bool isConvertibleExt(const std::string& path);
    // The extension is a picture's, the file is not empty and the control reads it. Takes no
    // lock of the loader (the control locks itself).
    static bool isImageFile(const std::string& path);
    // The picture scaled into width x height keeping its proportions (a smaller one enlarged);
    // width and height come back as the block's. Null with length 0 on failure.
    static unsigned char* createDIB(const std::string& path, int* width, int* height, int* length);
    // The image (part 0) or mask (part 1) of the file's associated icon at width x height:
    // returns the block's length, 0 (and no block) when there is none.
    static int createIconDIB(const std::string& path, unsigned char** block, short* bits, int part,
                             int width, int height);
    static int createIconDIBOf(const std::string& path, unsigned char** block, short* bits, int width,
                               int height);
    static int createIconMaskDIBOf(const std::string& path, unsigned char** block, short* bits,
                                   int width, int height);
    // A bitmap compatible with the screen holding the block, or null. The block (length
    // bytes) must be a whole one: 1 <= width, height <= MAX_PICTURE_SIDE, depth 1, 4, 8, 16,
    // 24 or 32, length the padded row times the height; otherwise an error line and null.
    static HBITMAP getBitmapHandle(const unsigned char* block, int length, int width, int height, short bits);
    // As getBitmapHandle, but a monochrome bitmap for depth 1 (its bits inverted, which
    // getIconHandle undoes on the mask).
    static HBITMAP getBitmapHandleEx(const unsigned char* block, int length, int width, int height, short bits);
    // An icon of the colour bitmap and a mask rebuilt by getBitmapHandleEx; the two bitmaps
    // stay the caller's. Null (traced) when it cannot be made.
    static HICON getIconHandle(HBITMAP colour, HBITMAP mask, int xHotSpot, int yHotSpot);

private:
    bool initialize();
    static CLeadImage* instance(const char* operation);
    // The packed 24-bit source fitted into *width x *height; sourceBytes is what the memory
    // holds (header included).
    static unsigned char* fitDIB(int* width, int* height, const BITMAPINFOHEADER* source,
                                 SIZE_T sourceBytes, int* length);
    static bool isWholeBlock(const char* operation, const unsigned char* block, int length, int width,
                             int height, short bits);

    CLead lead_;
    CJObject monitor_;

    static std::atomic<CLeadImage*> s_instance;
};
