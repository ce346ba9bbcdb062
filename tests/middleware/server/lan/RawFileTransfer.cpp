#include "RawFileTransfer.h"

#include "CQuarnRawPeer.h"
#include "CQuarnSocket.h"
#include "LanLog.h"
#include "QuarnGuidText.h"
#include "QuarnWire.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

const DWORD WAIT_MS = 10000;
const DWORD LIFETIME_MS = 240000;
// Corrupted packets of the three kinds that blast-files sends over one connection before the
// next; in its mix, the shares in percent of packets whose CRC does not hold and of single
// packets answered, the rest being opens followed by contents.
// A node takes about a millisecond for each packet under Wine, and three for contents with
// their open, which make a small share.
const int PACKETS_PER_CONNECTION = 4000;
const uint32_t DROPPED_SHARE = 45;
const uint32_t ANSWERED_SHARE = 52;

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string hex(const BYTE* bytes, size_t size)
{
    std::string text;
    char pair[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof(pair), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

bool stopped(const std::string& stopFile)
{
    return !stopFile.empty() && GetFileAttributesA(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool receiveExact(SOCKET s, BYTE* into, size_t size, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    size_t got = 0;
    while (got < size) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline || CQuarnRawPeer::waitReadable(s, static_cast<DWORD>(deadline - now)) != 1)
            return false;
        int n = recv(s, reinterpret_cast<char*>(into + got), static_cast<int>(std::min<size_t>(size - got, 1 << 20)), 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Whether the node closed the connection (within the time) without sending anything.
bool closedWithoutAnswer(SOCKET s)
{
    char byte;
    if (CQuarnRawPeer::waitReadable(s, WAIT_MS) != 1)
        return false;
    return recv(s, &byte, 1, 0) <= 0;
}

Bytes openData(const std::wstring& destination, const std::wstring& source, const std::wstring& nickname)
{
    Bytes data;
    CQuarnSocket::AppendString(data, destination.c_str());
    CQuarnSocket::AppendString(data, source.c_str());
    CQuarnSocket::AppendString(data, nickname.c_str());
    return data;
}

// The bytes of a pattern that goes on from where the last block ended.
class Pattern {
public:
    void fill(BYTE* into, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            state_ = state_ * 1103515245u + 12345u;
            into[i] = static_cast<BYTE>(state_ >> 16);
        }
    }

private:
    unsigned state_ = 7;
};

// Sends a file packet of size pattern bytes: everything, or the first part of it (header
// included) when part is below its whole length. The last CRC byte altered when badCrc.
bool sendContents(SOCKET s, WORD type, unsigned long long size, unsigned long long part, bool badCrc)
{
    BYTE header[8];
    WriteBigEndian16(header, type);
    WriteBigEndian16(header + 2, 0);
    WriteBigEndian32(header + 4, static_cast<DWORD>(size));
    DWORD crc = Crc32Update(header, 8, QUARN_CRC_START);
    unsigned long long whole = PadToFour(size) + 12;
    unsigned long long sent = 0;
    Bytes block(header, header + 8);
    Pattern pattern;
    unsigned long long data = 0;
    while (sent < whole && sent < part) {
        if (block.empty()) {
            if (data < PadToFour(size)) {
                size_t count = static_cast<size_t>(std::min<unsigned long long>(PadToFour(size) - data, 65536));
                block.resize(count);
                size_t real = static_cast<size_t>(std::min<unsigned long long>(size > data ? size - data : 0, count));
                pattern.fill(block.data(), real);
                std::fill(block.begin() + static_cast<long>(real), block.end(), 0);
                crc = Crc32Update(block.data(), static_cast<DWORD>(count), crc);
                data += count;
            } else {
                block.resize(4);
                WriteBigEndian32(block.data(), crc);
                if (badCrc)
                    block[3] ^= 0x5A;
            }
        }
        size_t count = static_cast<size_t>(std::min<unsigned long long>(block.size(), part - sent));
        if (!CQuarnRawPeer::sendAll(s, Bytes(block.begin(), block.begin() + static_cast<long>(count)), 60000))
            return false;
        sent += count;
        block.erase(block.begin(), block.begin() + static_cast<long>(count));
    }
    return true;
}

// Reads the contents behind a header, checking the CRC; stops after limit bytes of the rest
// when that is below it. Small packets are kept whole in *kept.
bool readContents(SOCKET s, const BYTE* header, unsigned long long limit, bool* crcGood, Bytes* kept)
{
    unsigned long long rest = PadToFour(ReadBigEndian32(header + 4)) + 4;
    DWORD crc = Crc32Update(header, 8, QUARN_CRC_START);
    if (kept != nullptr)
        kept->assign(header, header + 8);
    static BYTE buffer[65536];
    unsigned long long got = 0;
    while (got < rest && got < limit) {
        size_t count = static_cast<size_t>(std::min<unsigned long long>(std::min(rest, limit) - got, sizeof(buffer)));
        if (!receiveExact(s, buffer, count, 60000))
            return false;
        crc = Crc32Update(buffer, static_cast<DWORD>(count), crc);
        if (kept != nullptr && kept->size() < 64)
            kept->insert(kept->end(), buffer, buffer + std::min<size_t>(count, 64 - kept->size()));
        got += count;
    }
    if (crcGood != nullptr)
        *crcGood = got == rest && crc == QUARN_CRC_RESIDUE;
    return true;
}

void answerLookup(SOCKET c, const CQuarnRawPeer::Packet& packet)
{
    DWORD offset = 0, handle = 0;
    CQuarnSocket::ParseLong(packet.data.data(), static_cast<DWORD>(packet.data.size()), offset, handle);
    if (packet.type == 18) {
        Bytes counter(packet.data.begin(), packet.data.begin() + std::min<size_t>(4, packet.data.size()));
        CQuarnSocket::AppendLong(counter, 9);
        CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(18, 0, counter), WAIT_MS);
    } else {
        CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(17, 0, CQuarnRawPeer::directoryX(handle, 9)), WAIT_MS);
    }
}

// One packet from a connection of the receiving node; false when the connection is done.
bool receiveOne(SOCKET c, const std::string& cue, const std::string& stopFile)
{
    BYTE header[8];
    if (!receiveExact(c, header, 8, WAIT_MS))
        return false;
    WORD type = ReadBigEndian16(header);
    DWORD length = ReadBigEndian32(header + 4);
    if (type & 0x8000) {
        logLine("CONTENTS %s", hex(header, 8).c_str());
        unsigned long long whole = PadToFour(length) + 4;
        if (cue == "stall" || cue == "close-half") {
            readContents(c, header, whole / 2, nullptr, nullptr);
            logLine("HALF %llu of %llu", whole / 2, whole);
            if (cue == "close-half") {
                LINGER hard = {1, 0};
                setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
                return false;
            }
            while (!stopped(stopFile))
                Sleep(50);
            return false;
        }
        bool good = false;
        Bytes kept;
        if (!readContents(c, header, whole, &good, &kept))
            return false;
        logLine("CONTENTS-END length %lu crc %s", static_cast<unsigned long>(length), good ? "ok" : "BAD");
        if (whole + 8 <= 64)
            logLine("PACKET-HEX %s", hex(kept.data(), kept.size()).c_str());
        CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(34, 0, Bytes()), WAIT_MS);
        // The sender ends its side once it heard that the file is stored.
        char byte;
        bool closed = CQuarnRawPeer::waitReadable(c, WAIT_MS) == 1 && recv(c, &byte, 1, 0) == 0;
        logLine("SENDER %s", closed ? "closed" : "STAYED");
        return false;
    }
    if (length > QUARN_PACKET_DATA_LIMIT)
        return false;
    Bytes whole(header, header + 8);
    whole.resize(static_cast<size_t>(QuarnPacketSize(length)));
    if (!receiveExact(c, whole.data() + 8, whole.size() - 8, WAIT_MS))
        return false;
    CQuarnRawPeer::Packet packet;
    packet.type = type;
    packet.data.assign(whole.begin() + 8, whole.begin() + 8 + length);
    if (type == 17 || type == 18) {
        answerLookup(c, packet);
    } else if (type == 33) {
        DWORD offset = 0;
        std::optional<std::wstring> texts[3];
        for (auto& text : texts)
            CQuarnSocket::ParseString(packet.data.data(), length, offset, text);
        logLine("OPEN %s|%s|%s", texts[0] ? narrow(*texts[0]).c_str() : "-", texts[1] ? narrow(*texts[1]).c_str() : "-",
            texts[2] ? narrow(*texts[2]).c_str() : "-");
        if (cue == "refuse")
            CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(33, 0x8002, Bytes()), WAIT_MS);
        else if (cue == "unknown")
            CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(99, 0, Bytes()), WAIT_MS);
        else
            CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(33, 0, Bytes()), WAIT_MS);
    } else {
        logLine("PACKET %u %lu", type, static_cast<unsigned long>(length));
    }
    return true;
}

} // namespace

int rawReceive(DWORD address, WORD port, const std::string& stopFile, const std::string& cue)
{
    SOCKET listener = CQuarnRawPeer::listenOn(port);
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, 0);
    if (listener == INVALID_SOCKET || udp == INVALID_SOCKET) {
        logLine("FAIL no sockets");
        return 1;
    }
    GUID self;
    CoCreateGuid(&self);
    logLine("GUID %s", narrow(FormatBracedGuid(self)).c_str());
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    std::vector<SOCKET> connections;
    ULONGLONG lastAlive = 0;
    ULONGLONG deadline = GetTickCount64() + LIFETIME_MS;
    while (GetTickCount64() < deadline && !stopped(stopFile)) {
        if (GetTickCount64() - lastAlive >= 1000) {
            Bytes alive = CQuarnRawPeer::packet(1, 0, CQuarnRawPeer::aliveRecord(self, 1));
            sendto(udp, reinterpret_cast<const char*>(alive.data()), static_cast<int>(alive.size()), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof(to));
            lastAlive = GetTickCount64();
        }
        fd_set readable;
        FD_ZERO(&readable);
        if (listener != INVALID_SOCKET)
            FD_SET(listener, &readable);
        for (SOCKET c : connections)
            FD_SET(c, &readable);
        timeval timeout = {0, 100000};
        if (select(0, &readable, nullptr, nullptr, &timeout) <= 0)
            continue;
        if (listener != INVALID_SOCKET && FD_ISSET(listener, &readable)) {
            SOCKET c = accept(listener, nullptr, nullptr);
            if (c != INVALID_SOCKET && connections.size() < 32) {
                connections.push_back(c);
                logLine("ACCEPTED");
                if (cue == "lookup-contents") {
                    // Contents over a lookup connection, which carries no file.
                    Bytes contents = CQuarnRawPeer::packet(0x8022, 0, Bytes(100, 'x'));
                    CQuarnRawPeer::sendAll(c, contents, WAIT_MS);
                    logLine("CONTENTS sent");
                }
            } else if (c != INVALID_SOCKET) {
                closesocket(c);
            }
            if (cue == "stop-listening") {
                closesocket(listener);
                listener = INVALID_SOCKET;
                logLine("LISTENING no more");
            }
        }
        for (size_t k = 0; k < connections.size();) {
            if (!FD_ISSET(connections[k], &readable) || receiveOne(connections[k], cue, stopFile)) {
                ++k;
                continue;
            }
            closesocket(connections[k]);
            connections.erase(connections.begin() + static_cast<long>(k));
            logLine("CLOSED");
        }
    }
    for (SOCKET c : connections)
        closesocket(c);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    closesocket(udp);
    logLine("RECEIVER ended");
    return 0;
}

int rawSend(DWORD address, WORD port, const std::string& destination, const std::string& source,
            const std::string& nickname, const std::string& cue, unsigned long long size, const std::string& arg)
{
    SOCKET s = CQuarnRawPeer::connectTo(address, port, WAIT_MS);
    if (s == INVALID_SOCKET) {
        logLine("FAIL no connection");
        return 1;
    }
    CQuarnRawPeer::Packet reply;
    auto readReply = [&](const char* what) {
        bool read = CQuarnRawPeer::readPacket(s, reply, 60000);
        if (read)
            logLine("REPLY %s %u 0x%04X", what, reply.type, reply.status);
        else
            logLine("REPLY %s NONE", what);
        return read;
    };
    Bytes open = CQuarnRawPeer::packet(33, 0, openData(wide(destination), wide(source), wide(nickname)));
    if (cue == "nocontents") {
        sendContents(s, 0x8022, size, ~0ULL, false);
        check("contents without an open close the connection", closedWithoutAnswer(s));
        closesocket(s);
        return checkFailures() == 0 ? 0 : 1;
    }
    if (!CQuarnRawPeer::sendAll(s, open, WAIT_MS) || !readReply("33")) {
        closesocket(s);
        return 1;
    }
    if (reply.status != 0 || cue == "open-only") {
        closesocket(s);
        return 0;
    }
    if (cue == "full" || cue == "badcrc" || cue == "after-end") {
        sendContents(s, 0x8022, size, ~0ULL, cue == "badcrc");
        readReply("34");
        if (cue == "after-end") {
            sendContents(s, 0x8022, size, ~0ULL, false);
            check("contents after the end close the connection", closedWithoutAnswer(s));
        }
    } else if (cue == "half" || cue == "pause") {
        unsigned long long whole = PadToFour(size) + 12;
        sendContents(s, 0x8022, size, whole / 2, false);
        logLine("HALF-SENT %llu of %llu", whole / 2, whole);
        if (cue == "pause") {
            ULONGLONG deadline = GetTickCount64() + LIFETIME_MS;
            while (!stopped(arg) && GetTickCount64() < deadline)
                Sleep(50);
        }
    } else if (cue == "raw34") {
        std::wstring name = wide(arg);
        Bytes data(reinterpret_cast<const BYTE*>(name.c_str()),
                   reinterpret_cast<const BYTE*>(name.c_str() + name.size() + 1));
        CQuarnRawPeer::sendAll(s, CQuarnRawPeer::packet(34, 0, data), WAIT_MS);
        readReply("34");
        check("a plain type 34 is refused as unknown", reply.type == 34 && reply.status == 0x8001);
    } else if (cue == "second-open") {
        CQuarnRawPeer::sendAll(s, open, WAIT_MS);
        readReply("33");
        check("a second open is refused as busy", reply.type == 33 && reply.status == ERROR_BUSY);
        sendContents(s, 0x8022, size, ~0ULL, false);
        readReply("34");
        check("the first transfer goes on", reply.type == 34 && reply.status == 0);
    } else if (cue == "wrongtype") {
        sendContents(s, 0x8023, size, ~0ULL, false);
        check("contents of type 0x8023 close the connection", closedWithoutAnswer(s));
    }
    closesocket(s);
    return checkFailures() == 0 ? 0 : 1;
}

namespace {

// valid contents (type 0x8022) changed in one way, the frame kept: data bytes, the status, the
// length with the data (so the frame still holds), none left, the CRC.
Bytes corruptContents(const Bytes& valid, CQuarnRawPeer::Random& random)
{
    Bytes data(valid.begin() + 8, valid.begin() + 8 + ReadBigEndian32(&valid[4]));
    WORD status = 0;
    switch (random.below(5)) {
    case 0:
        for (uint32_t i = 1 + random.below(4); i > 0 && !data.empty(); --i)
            data[random.below(static_cast<uint32_t>(data.size()))] = static_cast<BYTE>(random.next());
        break;
    case 1:
        status = static_cast<WORD>(random.next());
        break;
    case 2:
        data.resize(random.below(static_cast<uint32_t>(data.size() + 64)));
        break;
    case 3:
        data.clear();
        break;
    default:
        break;
    }
    Bytes bytes = CQuarnRawPeer::packet(0x8022, status, data);
    if (random.below(5) == 0)
        bytes[bytes.size() - 1 - random.below(4)] ^= static_cast<BYTE>(1 + random.below(255));
    return bytes;
}

} // namespace

int rawBlastFiles(DWORD address, WORD port, const std::string& destination, int count, const std::string& kind)
{
    CQuarnRawPeer::Random random(20241101);
    const Bytes open = CQuarnRawPeer::packet(33, 0, openData(wide(destination), L"\\blast", L"nick"));
    const Bytes otherOpen = CQuarnRawPeer::packet(33, 0, openData(wide(destination) + L"\\12", L"\\blast", L"nick"));
    std::wstring winIni = L"C:\\windows\\win.ini";
    const Bytes plainEnd = CQuarnRawPeer::packet(
        34, 0,
        Bytes(reinterpret_cast<const BYTE*>(winIni.c_str()), reinterpret_cast<const BYTE*>(winIni.c_str() + winIni.size() + 1)));
    const Bytes* singles[] = {&open, &otherOpen, &plainEnd};
    ULONGLONG started = GetTickCount64();
    int packets = 0, recomputed = 0, connections = 0, cut = 0, breakers = 0, breakersKept = 0;
    long long answerBytes = 0;
    while (packets < count) {
        SOCKET s = CQuarnRawPeer::connectTo(address, port, WAIT_MS);
        if (s == INVALID_SOCKET) {
            logLine("FAIL no connection after %d packets", packets);
            return 1;
        }
        ++connections;
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        Bytes stream;
        int inStream = 0;
        auto add = [&](const Bytes& bytes) {
            stream.insert(stream.end(), bytes.begin(), bytes.end());
            ++inStream;
            if (Crc32Update(bytes.data(), static_cast<DWORD>(bytes.size()), QUARN_CRC_START) == QUARN_CRC_RESIDUE)
                ++recomputed;
        };
        while (inStream < PACKETS_PER_CONNECTION && packets + inStream < count) {
            uint32_t draw = random.below(100);
            if (kind == "dropped" || (kind == "mix" && draw < DROPPED_SHARE)) {
                // An open or a plain type 34 whose CRC does not hold: dropped unanswered.
                Bytes bytes = CQuarnRawPeer::corrupt(*singles[random.below(3)], random, true);
                bytes.back() ^= static_cast<BYTE>(1 + random.below(255));
                if (Crc32Update(bytes.data(), static_cast<DWORD>(bytes.size()), QUARN_CRC_START) == QUARN_CRC_RESIDUE)
                    bytes.back() ^= 0x01;
                add(bytes);
            } else if (kind == "answered" || (kind == "mix" && draw < DROPPED_SHARE + ANSWERED_SHARE)) {
                // An open or a plain type 34, corrupted, its CRC made to hold.
                Bytes bytes = CQuarnRawPeer::corrupt(*singles[random.below(3)], random, true);
                WriteBigEndian32(&bytes[bytes.size() - 4],
                                 Crc32Update(bytes.data(), static_cast<DWORD>(bytes.size() - 4), QUARN_CRC_START));
                add(bytes);
            } else {
                // A good open, then corrupted contents of up to 2000 bytes.
                add(open);
                Bytes contents(random.below(2000));
                for (BYTE& b : contents)
                    b = static_cast<BYTE>(random.next());
                add(corruptContents(CQuarnRawPeer::packet(0x8022, 0, contents), random));
            }
        }
        // Packets of a type no node knows are answered: when the answer to one behind the stream
        // came, the node had taken every packet of it.
        const Bytes last = CQuarnRawPeer::packet(99, 0, Bytes());
        stream.insert(stream.end(), last.begin(), last.end());
        const Bytes lastAnswer = CQuarnRawPeer::packet(99, 0x8001, Bytes());
        size_t sent = 0;
        if (!CQuarnRawPeer::streamWhileReading(s, stream, answerBytes, sent, &lastAnswer))
            ++cut;
        closesocket(s);
        packets += inStream;
        // Contents that break the stream, on a connection of their own: of another type with
        // bit 15, with no open before them, or announcing far more than they bring.
        SOCKET b = CQuarnRawPeer::connectTo(address, port, WAIT_MS);
        if (b != INVALID_SOCKET) {
            CQuarnRawPeer::Packet reply;
            bool closedByNode = false;
            switch (breakers++ % 3) {
            case 0:
                CQuarnRawPeer::sendAll(b, open, WAIT_MS);
                CQuarnRawPeer::readPacket(b, reply, WAIT_MS);
                CQuarnRawPeer::sendAll(
                    b, CQuarnRawPeer::packet(static_cast<WORD>(0x8000 | random.below(0x8000)), 0, Bytes(40, 'x')), WAIT_MS);
                closedByNode = closedWithoutAnswer(b);
                break;
            case 1:
                CQuarnRawPeer::sendAll(b, CQuarnRawPeer::packet(0x8022, 0, Bytes(40, 'x')), WAIT_MS);
                closedByNode = closedWithoutAnswer(b);
                break;
            default:
                // The node waits for the rest; the connection's end deletes what it took.
                CQuarnRawPeer::sendAll(b, open, WAIT_MS);
                if (CQuarnRawPeer::readPacket(b, reply, WAIT_MS) && reply.status == 0)
                    sendContents(b, 0x8022, 0xFFFFFFFFull - random.below(1000), 1000 + random.below(20000), false);
                closedByNode = true;
                break;
            }
            packets += 1;
            if (!closedByNode)
                ++breakersKept;
            closesocket(b);
        }
        logLine("SENT %d packets after %llu ms", packets, static_cast<unsigned long long>(GetTickCount64() - started));
    }
    logLine("BLASTED %d packets, %d with a CRC that holds, over %d connections and %d that broke, %d cut, answered %lld bytes in %llu ms",
        packets, recomputed, connections, breakers, cut, answerBytes, static_cast<unsigned long long>(GetTickCount64() - started));
    check("contents that break the stream close the connection", breakersKept == 0);
    return checkFailures() == 0 ? 0 : 1;
}
