#pragma once
// The name under which a file offered by a peer may be stored here.
#include <string>

// The leaf of a peer's file nickname, safe to join to a folder of ours: the part after the last
// "\", "/" or drive, without a ":" stream, trailing dots or spaces, with characters that no file
// name may hold replaced by "_", at most QUARN_LEAF_NAME_MAX bytes. Empty when nothing usable is
// left: "", ".", "..", or a device name ("CON", "nul.txt", "COM1"), which would not reach a file.
std::string quarnLeafName(const std::string& nickname);

// A folder's entry of NTFS holds 255 characters.
const size_t QUARN_LEAF_NAME_MAX = 255;
