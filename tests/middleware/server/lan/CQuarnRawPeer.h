#pragma once
// A peer that speaks raw middleware packets to a node: it plays a node of its own (announces
// itself, answers directory requests as told, counts them), sends requests and checks the
// answers byte by byte, and sends what a broken or hostile program would.
#include <winsock2.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

class CQuarnRawPeer {
public:
    struct Packet {
        WORD type = 0;
        WORD status = 0;
        std::vector<BYTE> data;
    };

    // A generator the standard fixes, so that every run sends the same bytes.
    class Random {
    public:
        explicit Random(uint32_t seed) : engine_(seed) {}
        uint32_t next() { return static_cast<uint32_t>(engine_()); }
        uint32_t below(uint32_t limit) { return limit == 0 ? 0 : next() % limit; }

    private:
        std::minstd_rand engine_;
    };

    CQuarnRawPeer();
    ~CQuarnRawPeer();
    CQuarnRawPeer(const CQuarnRawPeer&) = delete;
    CQuarnRawPeer& operator=(const CQuarnRawPeer&) = delete;

    // Blocking sockets; INVALID_SOCKET on failure or time-out. Addresses in network order.
    static SOCKET connectTo(DWORD address, WORD port, DWORD timeoutMs);
    static SOCKET listenOn(WORD port);
    static SOCKET acceptOne(SOCKET listener, DWORD timeoutMs);
    static bool sendAll(SOCKET s, const std::vector<BYTE>& bytes, DWORD timeoutMs);
    // One whole packet (header, data, padding, CRC); false on time-out, close, a length above
    // the cap or a bad CRC.
    static bool readPacket(SOCKET s, Packet& packet, DWORD timeoutMs);
    // 1 readable, 0 time-out, -1 error.
    static int waitReadable(SOCKET s, DWORD timeoutMs);
    // Sends the bytes over a non-blocking connection while reading whatever comes back (counted
    // in answerBytes), then what still comes within 300 ms, or, when last is given, until the
    // bytes read end with it (the answer to a last packet tells that the node took every packet
    // before it); sent tells how far it got. False when the node closed the connection, the
    // last answer did not come or a minute passed.
    static bool streamWhileReading(SOCKET s, const std::vector<BYTE>& bytes, long long& answerBytes, size_t& sent,
                                   const std::vector<BYTE>* last = nullptr);
    static DWORD parseAddress(const char* dotted);
    // The bytes in upper-case hexadecimal, for logs and comparisons.
    static std::string hex(const std::vector<BYTE>& bytes);

    // A packet's bytes: header, data padded to 4, CRC.
    static std::vector<BYTE> packet(WORD type, WORD status, const std::vector<BYTE>& data);
    // Data parts.
    static std::vector<BYTE> aliveRecord(const GUID& node, DWORD counter);
    static std::vector<BYTE> request(DWORD handle, const wchar_t* path);
    // A directory reply for the handle holding the one integer entry "X" = 5.
    static std::vector<BYTE> directoryX(DWORD handle, DWORD counter);

    // valid changed in a few random places (bytes, the length field, items' lengths, the
    // size); the frame's length field tells the truth about the data when keepFrame, and the
    // type never gets bit 15 then. Most get their CRC recomputed.
    static std::vector<BYTE> corrupt(const std::vector<BYTE>& valid, Random& random, bool keepFrame);
};
