#pragma once
// The bytes of the middleware protocol between servers: the packet frame, its CRC-32, status
// folding and big-endian numbers. Every packet is an 8-byte header (u16 type, u16 folded
// status, u32 data length), the data padded with zeros to a multiple of 4, and a u32 CRC over
// header and padded data; all numbers big-endian.
#include <windows.h>

constexpr WORD QUARN_COMM_TYPE_ALIVE = 1;
constexpr WORD QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY = 17;
constexpr WORD QUARN_COMM_TYPE_QUERY_UPDATE_COUNTER = 18;
constexpr WORD QUARN_COMM_TYPE_FILE_TRANSFER_OPEN = 33;
constexpr WORD QUARN_COMM_TYPE_FILE_TRANSFER_END = 34;
// On a transfer's connection, the receiver gives the transfer up: only a status in the header,
// no data. Only the service build sends it; a sender of either build ends with its status, and
// without one the service's ends untold where the module's takes it as an unknown answer.
constexpr WORD QUARN_COMM_TYPE_FILE_TRANSFER_ABORT = 35;
constexpr WORD QUARN_COMM_TYPE_KEEP_ALIVE = 255;
// On TCP a type with this bit carries a file's contents as its data.
constexpr WORD QUARN_COMM_TYPE_FILE_FLAG = 0x8000;

constexpr DWORD QUARN_PACKET_HEADER_SIZE = 8;
constexpr DWORD QUARN_PACKET_CRC_SIZE = 4;
// The alive record: node identity (16 bytes) and the root update counter.
constexpr DWORD QUARN_ALIVE_RECORD_SIZE = 20;
// What the CRC gives over any intact packet followed by its own big-endian CRC.
constexpr DWORD QUARN_CRC_RESIDUE = 0x38FB2284;
// The starting value of a packet's running CRC.
constexpr DWORD QUARN_CRC_START = 0xFFFFFFFF;

// Largest data part of a packet that is not a file. Directory replies, the largest of them,
// stay far below it; a stream whose header announces more cannot be resynchronised and is
// closed before anything is allocated, and nothing larger is ever sent.
constexpr DWORD QUARN_PACKET_DATA_LIMIT = 16 * 1024 * 1024;

// n rounded up to a multiple of 4, in 64 bits so that no length from the network wraps.
inline ULONGLONG PadToFour(ULONGLONG n)
{
    return (n + 3) & ~static_cast<ULONGLONG>(3);
}

// Bytes of the whole packet whose data part is length bytes long.
inline ULONGLONG QuarnPacketSize(DWORD length)
{
    return PadToFour(length) + QUARN_PACKET_HEADER_SIZE + QUARN_PACKET_CRC_SIZE;
}

// CRC-32 with polynomial 0x04C11DB7, bits most significant first, register starting at 0 and
// the result complemented. Chained calls, the first with QUARN_CRC_START as previous, give the
// CRC of the concatenated bytes.
DWORD Crc32Update(const BYTE* bytes, DWORD count, DWORD previous);

// A 32-bit status in 16 bits: bit 15 for the middleware's own families (0xE004xxxx and
// 0x2004xxxx), bits 0 to 14 as they stand. Unfolding gives 0xE0040000 plus bits 0 to 14 when
// bit 15 is set, else bits 0 to 14.
WORD FoldStatus(DWORD status);
DWORD UnfoldStatus(WORD folded);

inline WORD ReadBigEndian16(const BYTE* p)
{
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

inline DWORD ReadBigEndian32(const BYTE* p)
{
    return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) | (static_cast<DWORD>(p[2]) << 8) | p[3];
}

inline void WriteBigEndian16(BYTE* p, WORD value)
{
    p[0] = static_cast<BYTE>(value >> 8);
    p[1] = static_cast<BYTE>(value);
}

inline void WriteBigEndian32(BYTE* p, DWORD value)
{
    p[0] = static_cast<BYTE>(value >> 24);
    p[1] = static_cast<BYTE>(value >> 16);
    p[2] = static_cast<BYTE>(value >> 8);
    p[3] = static_cast<BYTE>(value);
}
