#pragma once
// A look at a picture file's structure before it reaches the platform's decoders, which read
// past the end of some corrupted files (measured under Wine: a JPEG segment whose length runs
// beyond the file ends the process). Only BMP, GIF and JPEG are taken: the loader needs no
// other, and no other decoder is exposed to the files.
#include <cstddef>

class CPictureFormat {
public:
    // Largest side of a picture taken: above any photo or screen the program shows.
    static constexpr long MAX_SIDE = 32767;

    // True when the bytes are a BMP, GIF or JPEG whose headers, tables and blocks lie inside
    // them, with sides from 1 to MAX_SIDE.
    static bool isWellFormed(const unsigned char* bytes, size_t size);

private:
    static bool isBmp(const unsigned char* bytes, size_t size);
    static bool isGif(const unsigned char* bytes, size_t size);
    static bool isJpeg(const unsigned char* bytes, size_t size);
};
