#include "CQuarnRawPeer.h"

#include <cstdio>

#include "CQuarnSocket.h"
#include "QuarnWire.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace {

void recompute(std::vector<BYTE>& bytes)
{
    size_t covered = bytes.size() - 4;
    WriteBigEndian32(&bytes[covered], Crc32Update(bytes.data(), static_cast<DWORD>(covered), QUARN_CRC_START));
}

bool receiveExact(SOCKET s, BYTE* into, size_t size, ULONGLONG deadline)
{
    size_t got = 0;
    while (got < size) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline || CQuarnRawPeer::waitReadable(s, static_cast<DWORD>(deadline - now)) != 1)
            return false;
        int n = recv(s, reinterpret_cast<char*>(into + got), static_cast<int>(size - got), 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

CQuarnRawPeer::CQuarnRawPeer()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

CQuarnRawPeer::~CQuarnRawPeer()
{
    WSACleanup();
}

std::string CQuarnRawPeer::hex(const std::vector<BYTE>& bytes)
{
    std::string text;
    char pair[4];
    for (BYTE b : bytes) {
        std::snprintf(pair, sizeof(pair), "%02X", b);
        text += pair;
    }
    return text;
}

DWORD CQuarnRawPeer::parseAddress(const char* dotted)
{
    in_addr address = {};
    inet_pton(AF_INET, dotted, &address);
    return address.s_addr;
}

int CQuarnRawPeer::waitReadable(SOCKET s, DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout = {static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    int ready = select(0, &readable, nullptr, nullptr, &timeout);
    return ready < 0 ? -1 : ready;
}

SOCKET CQuarnRawPeer::connectTo(DWORD address, WORD port, DWORD timeoutMs)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval timeout = {static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    if (select(0, nullptr, &writable, &failed, &timeout) != 1 || !FD_ISSET(s, &writable)) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    return s;
}

SOCKET CQuarnRawPeer::listenOn(WORD port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR
        || listen(s, SOMAXCONN) == SOCKET_ERROR) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

SOCKET CQuarnRawPeer::acceptOne(SOCKET listener, DWORD timeoutMs)
{
    if (waitReadable(listener, timeoutMs) != 1)
        return INVALID_SOCKET;
    return accept(listener, nullptr, nullptr);
}

bool CQuarnRawPeer::sendAll(SOCKET s, const std::vector<BYTE>& bytes, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (GetTickCount64() >= deadline)
            return false;
        int n = send(s, reinterpret_cast<const char*>(bytes.data() + sent), static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool CQuarnRawPeer::readPacket(SOCKET s, Packet& packet, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    BYTE header[8];
    if (!receiveExact(s, header, sizeof(header), deadline))
        return false;
    DWORD length = ReadBigEndian32(header + 4);
    if (length > QUARN_PACKET_DATA_LIMIT)
        return false;
    std::vector<BYTE> whole(header, header + 8);
    whole.resize(static_cast<size_t>(QuarnPacketSize(length)));
    if (!receiveExact(s, whole.data() + 8, whole.size() - 8, deadline))
        return false;
    if (Crc32Update(whole.data(), static_cast<DWORD>(whole.size()), QUARN_CRC_START) != QUARN_CRC_RESIDUE)
        return false;
    packet.type = ReadBigEndian16(header);
    packet.status = ReadBigEndian16(header + 2);
    packet.data.assign(whole.begin() + 8, whole.begin() + 8 + length);
    return true;
}

std::vector<BYTE> CQuarnRawPeer::packet(WORD type, WORD status, const std::vector<BYTE>& data)
{
    std::vector<BYTE> bytes(8);
    WriteBigEndian16(&bytes[0], type);
    WriteBigEndian16(&bytes[2], status);
    WriteBigEndian32(&bytes[4], static_cast<DWORD>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize(static_cast<size_t>(QuarnPacketSize(static_cast<DWORD>(data.size()))), 0);
    recompute(bytes);
    return bytes;
}

std::vector<BYTE> CQuarnRawPeer::aliveRecord(const GUID& node, DWORD counter)
{
    std::vector<BYTE> data;
    CQuarnSocket::AppendGuid(data, node);
    CQuarnSocket::AppendLong(data, counter);
    return data;
}

std::vector<BYTE> CQuarnRawPeer::request(DWORD handle, const wchar_t* path)
{
    std::vector<BYTE> data;
    CQuarnSocket::AppendLong(data, handle);
    CQuarnSocket::AppendPath(data, path);
    return data;
}

std::vector<BYTE> CQuarnRawPeer::directoryX(DWORD handle, DWORD counter)
{
    std::vector<BYTE> data;
    CQuarnSocket::AppendLong(data, handle);
    CQuarnSocket::AppendLong(data, counter);
    CQuarnSocket::AppendLong(data, 1);
    CQuarnSocket::AppendLong(data, 20);
    CQuarnSocket::AppendLong(data, 1);
    CQuarnSocket::AppendString(data, L"X");
    CQuarnSocket::AppendLong(data, 5);
    return data;
}

std::vector<BYTE> CQuarnRawPeer::corrupt(const std::vector<BYTE>& valid, Random& random, bool keepFrame)
{
    std::vector<BYTE> data(valid.begin() + 8, valid.begin() + 8 + ReadBigEndian32(&valid[4]));
    WORD type = ReadBigEndian16(&valid[0]);
    WORD status = ReadBigEndian16(&valid[2]);
    switch (random.below(6)) {
    case 0: // a few bytes of the data
        for (uint32_t i = 1 + random.below(4); i > 0 && !data.empty(); --i)
            data[random.below(static_cast<uint32_t>(data.size()))] = static_cast<BYTE>(random.next());
        break;
    case 1: // a number where items keep their lengths
        if (data.size() >= 4) {
            static const DWORD special[] = {0, 1, 2, 3, 4, 5, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFC, 0xFFFFFFFF, 12, 20};
            size_t at = random.below(static_cast<uint32_t>(data.size() / 4)) * 4;
            WriteBigEndian32(&data[at], special[random.below(sizeof(special) / sizeof(special[0]))]);
        }
        break;
    case 2: // cut short
        data.resize(random.below(static_cast<uint32_t>(data.size() + 1)));
        break;
    case 3: // grown with noise
        for (uint32_t i = 1 + random.below(16); i > 0; --i)
            data.push_back(static_cast<BYTE>(random.next()));
        break;
    case 4: // another status
        status = static_cast<WORD>(random.next());
        break;
    default: // another type
        type = static_cast<WORD>(random.below(256));
        break;
    }
    std::vector<BYTE> bytes = packet(type, status, data);
    if (!keepFrame && random.below(2) == 0) {
        // A length field that lies: the stream cannot be read in step any more.
        WriteBigEndian32(&bytes[4], random.below(2) == 0 ? random.next() : ReadBigEndian32(&bytes[4]) + 1 + random.below(64));
        if (random.below(2) == 0)
            bytes[0] |= 0x80;
    }
    if (random.below(5) != 0)
        recompute(bytes);
    else
        bytes.back() ^= static_cast<BYTE>(1 + random.below(255));
    return bytes;
}

bool CQuarnRawPeer::streamWhileReading(SOCKET s, const std::vector<BYTE>& bytes, long long& answerBytes, size_t& sent,
                                       const std::vector<BYTE>* last)
{
    sent = 0;
    ULONGLONG deadline = GetTickCount64() + 60000;
    static char sink[65536];
    std::vector<BYTE> tail;
    auto keepTail = [&](int n) {
        if (last == nullptr)
            return;
        tail.insert(tail.end(), sink, sink + n);
        if (tail.size() > last->size())
            tail.erase(tail.begin(), tail.end() - static_cast<long>(last->size()));
    };
    while (sent < bytes.size() && GetTickCount64() < deadline) {
        fd_set readable, writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_SET(s, &readable);
        FD_SET(s, &writable);
        timeval timeout = {0, 100000};
        if (select(0, &readable, &writable, nullptr, &timeout) <= 0)
            continue;
        if (FD_ISSET(s, &readable)) {
            int n = recv(s, sink, sizeof(sink), 0);
            if (n <= 0)
                return false;
            answerBytes += n;
            keepTail(n);
        }
        if (FD_ISSET(s, &writable)) {
            int n = send(s, reinterpret_cast<const char*>(bytes.data() + sent),
                         static_cast<int>(std::min<size_t>(bytes.size() - sent, 16384)), 0);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
    }
    // What the node still answers.
    while (last != nullptr ? tail != *last && GetTickCount64() < deadline : waitReadable(s, 300) == 1) {
        if (last != nullptr && waitReadable(s, 100) != 1)
            continue;
        int n = recv(s, sink, sizeof(sink), 0);
        if (n <= 0)
            return false;
        answerBytes += n;
        keepTail(n);
    }
    return sent == bytes.size() && (last == nullptr || tail == *last);
}
