// A raw peer of the middleware's nodes on a host of the test LAN (tools/lan): it speaks the
// packets itself, to check a node's answers byte by byte and to play a node that answers as
// told or sends what a broken or hostile program would.
//
//   quarn_rawpeer requests IP PORT       directory requests to the node; checks every answer
//   quarn_rawpeer alive-back IP PORT     an alive over TCP; the node must connect back
//   quarn_rawpeer fake IP PORT STOPFILE  a node of its own until STOPFILE appears: announces
//                                        itself to IP, answers requests by path ("\Hold": never,
//                                        "\Bad": a reply that does not hold up, "\Blast":
//                                        corrupted replies, then a good one; else "X" = 5),
//                                        prints every request
//   quarn_rawpeer blast-udp IP PORT STOPFILE   corrupted alives over UDP; the connections they
//                                        bring are held unaccepted until STOPFILE appears
//   quarn_rawpeer blast-tcp IP PORT      corrupted requests of every type over TCP
//   quarn_rawpeer receive | send | blast-files ...   file transfers (RawFileTransfer.h)
//
// Exit code 0 when the part went as it should; the output says what happened.
#include "CQuarnDirectoryReply.h"
#include "CQuarnRawPeer.h"
#include "CQuarnSocket.h"
#include "LanLog.h"
#include "RawFileTransfer.h"
#include "QuarnGuidText.h"
#include "QuarnWire.h"

#include <fcntl.h>
#include <io.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

const DWORD REPLY_WAIT_MS = 10000;
// Corrupted packets of each kind: replies, alives over UDP, requests over TCP. A node answers
// a request in about a millisecond and a half under Wine, so requests are the fewest.
const int BLAST_REPLIES = 40000;
const int BLAST_DATAGRAMS = 50000;
const int BLAST_REQUESTS = 12000;
// Connections held open at once, more than a node accepts.
const size_t HELD_CONNECTIONS = 300;
// Datagrams sent before a short pause, so that the node's receive buffer is not always full.
const int DATAGRAM_BURST = 40;
const DWORD FAKE_LIFETIME_MS = 240000;



// Up to count connections to the node, made one after the other; those that failed are left out.
std::vector<SOCKET> connectMany(DWORD address, WORD port, size_t count)
{
    std::vector<SOCKET> made;
    for (size_t i = 0; i < count; ++i) {
        SOCKET c = CQuarnRawPeer::connectTo(address, port, REPLY_WAIT_MS);
        if (c != INVALID_SOCKET)
            made.push_back(c);
    }
    return made;
}

// Sends a request and reads the one packet that answers it.
bool ask(SOCKET s, WORD type, const Bytes& data, CQuarnRawPeer::Packet& reply)
{
    return CQuarnRawPeer::sendAll(s, CQuarnRawPeer::packet(type, 0, data), REPLY_WAIT_MS)
        && CQuarnRawPeer::readPacket(s, reply, REPLY_WAIT_MS);
}

int requests(DWORD address, WORD port)
{
    SOCKET s = CQuarnRawPeer::connectTo(address, port, REPLY_WAIT_MS);
    if (s == INVALID_SOCKET) {
        logLine("FAIL no connection");
        return 1;
    }
    const Bytes handle = {0x11, 0x22, 0x33, 0x44};
    CQuarnRawPeer::Packet reply;

    // The root, asked with an empty path.
    bool answered = ask(s, 17, CQuarnRawPeer::request(0x11223344, L""), reply);
    CQuarnDirectoryReply root;
    bool parsed = answered && reply.type == 17 && reply.status == 0
        && root.Parse(reply.data.data(), static_cast<DWORD>(reply.data.size()));
    bool hasInformation = false;
    for (DWORD i = 0; parsed && i < root.GetCount(); ++i)
        hasInformation = hasInformation
            || (root.GetEntry(i)->name == L"Computer Information" && root.GetEntry(i)->type == 5);
    check("root", parsed && root.GetHandle() == 0x11223344 && root.GetUpdateCounter() != 0 && hasInformation,
          "counter " + std::to_string(root.GetUpdateCounter()) + " count " + std::to_string(root.GetCount()));

    answered = ask(s, 17, CQuarnRawPeer::request(0x11223344, L"\\Computer Information"), reply);
    CQuarnDirectoryReply information;
    parsed = answered && reply.status == 0
        && information.Parse(reply.data.data(), static_cast<DWORD>(reply.data.size()));
    std::string names;
    bool version = false;
    for (DWORD i = 0; parsed && i < information.GetCount(); ++i) {
        const CQuarnDirectoryReply::Entry* entry = information.GetEntry(i);
        names += " " + narrow(entry->name);
        version = version || (entry->name == L"Version" && entry->type == 1 && entry->number == 0x00010003);
    }
    check("information", parsed && version && information.GetCount() == 3, names);

    answered = ask(s, 17, CQuarnRawPeer::request(0x11223344, L"\\No Such Directory"), reply);
    check("unknown path", answered && reply.type == 17 && reply.status == 0x8002 && reply.data == handle,
          CQuarnRawPeer::hex(reply.data));

    answered = ask(s, 99, Bytes{1, 2, 3, 4, 5}, reply);
    check("type 99", answered && reply.type == 99 && reply.status == 0x8001 && reply.data.empty());

    for (WORD type : {WORD(17), WORD(18)}) {
        answered = ask(s, type, Bytes{0x11, 0x22, 0x33}, reply);
        check(type == 17 ? "short 17" : "short 18", answered && reply.type == type && reply.status == 87 && reply.data.empty());
    }

    answered = ask(s, 18, CQuarnRawPeer::request(0x11223344, L"\\Computer Information"), reply);
    check("counter", answered && reply.type == 18 && reply.status == 0 && reply.data.size() == 8
              && Bytes(reply.data.begin(), reply.data.begin() + 4) == handle,
          CQuarnRawPeer::hex(reply.data));

    // A request whose path does not end inside it.
    answered = ask(s, 17, Bytes{0x11, 0x22, 0x33, 0x44, 0x00, 0x5C, 0x00}, reply);
    check("unended path", answered && reply.status == 87 && reply.data == handle, CQuarnRawPeer::hex(reply.data));
    closesocket(s);
    return checkFailures() == 0 ? 0 : 1;
}

int aliveBack(DWORD address, WORD port)
{
    SOCKET listener = CQuarnRawPeer::listenOn(port);
    SOCKET s = CQuarnRawPeer::connectTo(address, port, REPLY_WAIT_MS);
    if (listener == INVALID_SOCKET || s == INVALID_SOCKET) {
        logLine("FAIL no sockets");
        return 1;
    }
    GUID self;
    CoCreateGuid(&self);
    logLine("GUID %s", narrow(FormatBracedGuid(self)).c_str());
    CQuarnRawPeer::sendAll(s, CQuarnRawPeer::packet(1, 0, CQuarnRawPeer::aliveRecord(self, 7)), REPLY_WAIT_MS);
    SOCKET back = CQuarnRawPeer::acceptOne(listener, REPLY_WAIT_MS);
    check("connected back", back != INVALID_SOCKET);
    CQuarnRawPeer::Packet alive;
    bool read = back != INVALID_SOCKET && CQuarnRawPeer::readPacket(back, alive, REPLY_WAIT_MS);
    DWORD offset = 0, counter = 1;
    GUID node;
    bool parsed = read && alive.type == 1 && alive.data.size() == 20
        && CQuarnSocket::ParseGuid(alive.data.data(), 20, offset, node)
        && CQuarnSocket::ParseLong(alive.data.data(), 20, offset, counter);
    check("alive back", parsed && counter == 0, parsed ? narrow(FormatBracedGuid(node)) : CQuarnRawPeer::hex(alive.data));
    // Asked for nothing, it only keeps the connection.
    logLine("PEER %s", parsed ? narrow(FormatBracedGuid(node)).c_str() : "?");
    if (back != INVALID_SOCKET)
        closesocket(back);
    closesocket(s);
    closesocket(listener);
    return checkFailures() == 0 ? 0 : 1;
}

// Corrupted replies to the handle, then a good one.
void blastReplies(SOCKET s, DWORD handle)
{
    CQuarnRawPeer::Random random(20241015);
    Bytes bad = CQuarnRawPeer::directoryX(handle, 9);
    Bytes counter;
    CQuarnSocket::AppendLong(counter, handle);
    CQuarnSocket::AppendLong(counter, 9);
    Bytes strings;
    CQuarnSocket::AppendLong(strings, handle);
    CQuarnSocket::AppendLong(strings, 4);
    CQuarnSocket::AppendLong(strings, 2);
    for (const wchar_t* name : {L"Name", L"Bytes"}) {
        size_t start = strings.size();
        CQuarnSocket::AppendLong(strings, 0);
        CQuarnSocket::AppendLong(strings, name[0] == L'N' ? 2 : 3);
        CQuarnSocket::AppendString(strings, name);
        if (name[0] == L'N') {
            CQuarnSocket::AppendString(strings, L"text");
        } else {
            const BYTE value[] = {1, 2, 3, 4, 5};
            CQuarnSocket::AppendBinary(strings, value, sizeof(value));
        }
        WriteBigEndian32(&strings[start], static_cast<DWORD>(strings.size() - start));
    }
    const Bytes bases[] = {
        CQuarnRawPeer::packet(17, 0, bad),
        CQuarnRawPeer::packet(17, 0, strings),
        CQuarnRawPeer::packet(18, 0, counter),
        CQuarnRawPeer::packet(17, 0x8002, Bytes(bad.begin(), bad.begin() + 4)),
    };
    Bytes batch;
    int sent = 0;
    for (int i = 0; i < BLAST_REPLIES; ++i) {
        Bytes corrupted = CQuarnRawPeer::corrupt(bases[random.below(4)], random, true);
        batch.insert(batch.end(), corrupted.begin(), corrupted.end());
        if (batch.size() > 32768 || i + 1 == BLAST_REPLIES) {
            if (!CQuarnRawPeer::sendAll(s, batch, 60000))
                break;
            sent = i + 1;
            batch.clear();
        }
    }
    CQuarnRawPeer::sendAll(s, CQuarnRawPeer::packet(17, 0, CQuarnRawPeer::directoryX(handle, 10)), REPLY_WAIT_MS);
    logLine("BLASTED %d replies", sent);
}

int fake(DWORD address, WORD port, const std::string& stopFile)
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
    ULONGLONG deadline = GetTickCount64() + FAKE_LIFETIME_MS;
    while (GetTickCount64() < deadline && GetFileAttributesA(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() - lastAlive >= 1000) {
            Bytes alive = CQuarnRawPeer::packet(1, 0, CQuarnRawPeer::aliveRecord(self, 1));
            sendto(udp, reinterpret_cast<const char*>(alive.data()), static_cast<int>(alive.size()), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof(to));
            lastAlive = GetTickCount64();
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        for (SOCKET c : connections)
            FD_SET(c, &readable);
        timeval timeout = {0, 100000};
        if (select(0, &readable, nullptr, nullptr, &timeout) <= 0)
            continue;
        if (FD_ISSET(listener, &readable)) {
            SOCKET c = accept(listener, nullptr, nullptr);
            if (c != INVALID_SOCKET && connections.size() < FD_SETSIZE - 1) {
                connections.push_back(c);
                logLine("ACCEPTED");
            } else if (c != INVALID_SOCKET) {
                closesocket(c);
            }
        }
        for (size_t k = 0; k < connections.size();) {
            SOCKET c = connections[k];
            CQuarnRawPeer::Packet packet;
            if (!FD_ISSET(c, &readable)) {
                ++k;
                continue;
            }
            if (!CQuarnRawPeer::readPacket(c, packet, REPLY_WAIT_MS)) {
                closesocket(c);
                connections.erase(connections.begin() + static_cast<long>(k));
                logLine("CLOSED");
                continue;
            }
            ++k;
            DWORD offset = 0, handle = 0;
            std::wstring path;
            if (packet.type == 17 || packet.type == 18) {
                bool parsed = CQuarnSocket::ParseLong(packet.data.data(), static_cast<DWORD>(packet.data.size()), offset, handle)
                    && CQuarnSocket::ParsePath(packet.data.data(), static_cast<DWORD>(packet.data.size()), offset, path);
                logLine("REQ %u %s %lu%s", packet.type, narrow(path).c_str(), static_cast<unsigned long>(handle),
                    parsed ? "" : " unparsed");
            } else {
                logLine("PACKET %u %u", packet.type, static_cast<unsigned>(packet.data.size()));
                continue;
            }
            if (packet.type == 18) {
                Bytes counter(packet.data.begin(), packet.data.begin() + 4);
                CQuarnSocket::AppendLong(counter, 9);
                CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(18, 0, counter), REPLY_WAIT_MS);
            } else if (path == L"\\Hold") {
            } else if (path == L"\\Bad") {
                Bytes bad = CQuarnRawPeer::directoryX(handle, 9);
                WriteBigEndian32(&bad[12], 24); // the record says it is longer than the reply
                CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(17, 0, bad), REPLY_WAIT_MS);
            } else if (path == L"\\Blast") {
                blastReplies(c, handle);
            } else {
                CQuarnRawPeer::sendAll(c, CQuarnRawPeer::packet(17, 0, CQuarnRawPeer::directoryX(handle, 9)), REPLY_WAIT_MS);
            }
        }
    }
    for (SOCKET c : connections)
        closesocket(c);
    closesocket(listener);
    closesocket(udp);
    logLine("FAKE ended");
    return 0;
}

// Requests of every type and alives, as the stream carries them, to be corrupted.
std::vector<Bytes> requestBases(CQuarnRawPeer::Random& random)
{
    GUID node;
    CoCreateGuid(&node);
    Bytes open;
    CQuarnSocket::AppendString(open, L"\\12");
    CQuarnSocket::AppendString(open, L"\\{00112233-4455-6677-8899-AABBCCDDEEFF}\\Copy");
    CQuarnSocket::AppendString(open, L"picture.png");
    return {
        CQuarnRawPeer::packet(1, 0, CQuarnRawPeer::aliveRecord(node, random.next())),
        CQuarnRawPeer::packet(17, 0, CQuarnRawPeer::request(random.next(), L"")),
        CQuarnRawPeer::packet(17, 0, CQuarnRawPeer::request(random.next(), L"\\Computer Information")),
        CQuarnRawPeer::packet(17, 0, CQuarnRawPeer::request(random.next(), L"\\Computer Information\\Network\\")),
        CQuarnRawPeer::packet(18, 0, CQuarnRawPeer::request(random.next(), L"\\")),
        CQuarnRawPeer::packet(33, 0, open),
        CQuarnRawPeer::packet(34, 0, Bytes{'f', 'i', 'l', 'e'}),
        CQuarnRawPeer::packet(255, 0, Bytes()),
        CQuarnRawPeer::packet(static_cast<WORD>(random.below(256)), 0, Bytes{1, 2, 3}),
    };
}

// Accepts and drops the connections that the node opens to the identities it was told of.
void dropConnections(SOCKET listener, int& dropped)
{
    while (CQuarnRawPeer::waitReadable(listener, 0) == 1) {
        SOCKET c = accept(listener, nullptr, nullptr);
        if (c == INVALID_SOCKET)
            return;
        closesocket(c);
        ++dropped;
    }
}

// Sends the packets over one connection while reading whatever comes back; false when the
// node closed it (a packet that broke the stream).
bool streamRequests(SOCKET s, const Bytes& bytes, long long& answerBytes)
{
    size_t sent = 0;
    return CQuarnRawPeer::streamWhileReading(s, bytes, answerBytes, sent);
}

// Corrupted alives over UDP, most with identities the node has never heard of. The node's
// connections to them are left unaccepted until STOPFILE appears, so that they stay open and
// the node reaches its limit of connections; then they are accepted and closed.
int blastDatagrams(DWORD address, WORD port, const std::string& stopFile)
{
    CQuarnRawPeer::Random random(20241016);
    SOCKET listener = CQuarnRawPeer::listenOn(port);
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, 0);
    if (listener == INVALID_SOCKET || udp == INVALID_SOCKET) {
        logLine("FAIL no sockets");
        return 1;
    }
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    ULONGLONG started = GetTickCount64();
    int datagrams = 0;
    for (int i = 0; i < BLAST_DATAGRAMS; ++i) {
        GUID node;
        CoCreateGuid(&node);
        Bytes valid = CQuarnRawPeer::packet(1, 0, CQuarnRawPeer::aliveRecord(node, random.next()));
        Bytes bytes = random.below(4) == 0 ? valid : CQuarnRawPeer::corrupt(valid, random, random.below(8) != 0);
        if (sendto(udp, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof(to)) > 0)
            ++datagrams;
        if (i % DATAGRAM_BURST == DATAGRAM_BURST - 1)
            Sleep(2);
    }
    logLine("DATAGRAMS %d in %llu ms", datagrams, static_cast<unsigned long long>(GetTickCount64() - started));
    ULONGLONG deadline = GetTickCount64() + 60000;
    while (GetFileAttributesA(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
        Sleep(50);
    u_long nonBlocking = 1;
    ioctlsocket(listener, FIONBIO, &nonBlocking);
    int dropped = 0;
    for (ULONGLONG quiet = GetTickCount64() + 1000; GetTickCount64() < quiet;) {
        int before = dropped;
        dropConnections(listener, dropped);
        if (dropped != before)
            quiet = GetTickCount64() + 1000;
        Sleep(20);
    }
    logLine("DROPPED %d", dropped);
    closesocket(listener);
    closesocket(udp);
    return 0;
}

// Corrupted requests of every type over TCP, their frames intact, answers read meanwhile; after
// each connection's stream one connection with a packet that breaks the stream.
int blastRequests(DWORD address, WORD port)
{
    CQuarnRawPeer::Random random(20241017);
    SOCKET listener = CQuarnRawPeer::listenOn(port);
    if (listener == INVALID_SOCKET) {
        logLine("FAIL no listening socket");
        return 1;
    }
    u_long nonBlocking = 1;
    ioctlsocket(listener, FIONBIO, &nonBlocking);

    // More connections at once than the node keeps: those beyond its limit are closed at once.
    std::vector<SOCKET> held = connectMany(address, port, HELD_CONNECTIONS);
    Sleep(3000);
    int closedByNode = 0;
    for (SOCKET c : held) {
        char byte;
        if (CQuarnRawPeer::waitReadable(c, 0) == 1 && recv(c, &byte, 1, 0) <= 0)
            ++closedByNode;
        closesocket(c);
    }
    logLine("HELD %u closed by the node %d", static_cast<unsigned>(held.size()), closedByNode);
    if (held.size() != HELD_CONNECTIONS || closedByNode == 0)
        countFailure();

    ULONGLONG started = GetTickCount64();
    int dropped = 0;
    int requests = 0, breakers = 0, cut = 0;
    long long answerBytes = 0;
    const int PER_CONNECTION = 3000;
    for (int done = 0; done < BLAST_REQUESTS;) {
        SOCKET s = CQuarnRawPeer::connectTo(address, port, REPLY_WAIT_MS);
        if (s == INVALID_SOCKET) {
            logLine("FAIL no connection after %d requests", done);
            countFailure();
            break;
        }
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        Bytes stream;
        int count = 0;
        for (; count < PER_CONNECTION && done + count < BLAST_REQUESTS; ++count) {
            std::vector<Bytes> bases = requestBases(random);
            Bytes corrupted = CQuarnRawPeer::corrupt(bases[random.below(static_cast<uint32_t>(bases.size()))], random, true);
            stream.insert(stream.end(), corrupted.begin(), corrupted.end());
        }
        if (!streamRequests(s, stream, answerBytes))
            ++cut;
        closesocket(s);
        done += count;
        requests += count;
        dropConnections(listener, dropped);

        SOCKET b = CQuarnRawPeer::connectTo(address, port, REPLY_WAIT_MS);
        if (b != INVALID_SOCKET) {
            std::vector<Bytes> bases = requestBases(random);
            Bytes broken = CQuarnRawPeer::corrupt(bases[random.below(static_cast<uint32_t>(bases.size()))], random, false);
            CQuarnRawPeer::sendAll(b, broken, REPLY_WAIT_MS);
            ++breakers;
            closesocket(b);
        }
    }
    dropConnections(listener, dropped);
    logLine("REQUESTS %d breakers %d cut %d answered %lld bytes dropped %d in %llu ms", requests, breakers, cut, answerBytes,
        dropped, static_cast<unsigned long long>(GetTickCount64() - started));
    closesocket(listener);
    return checkFailures() == 0 ? 0 : 1;
}

// Holds count connections to the node open without a word until the stop file appears (or a
// minute and a half passed); tells how many the node closed at once (past its share for one
// address) and, at the end, how many it closed in all.
int holdIdle(DWORD address, WORD port, int count, const std::string& stopFile)
{
    std::vector<SOCKET> held = connectMany(address, port, static_cast<size_t>(count));
    Sleep(2000);
    auto closedByNode = [&held] {
        int closed = 0;
        for (SOCKET c : held) {
            char bytes[64];
            // What the node sent (keep-alives) is read past; the end of its data is a close.
            while (CQuarnRawPeer::waitReadable(c, 0) == 1) {
                if (recv(c, bytes, sizeof bytes, 0) <= 0) {
                    ++closed;
                    break;
                }
            }
        }
        return closed;
    };
    int atOnce = closedByNode();
    logLine("HELD %u closed by the node %d", static_cast<unsigned>(held.size()), atOnce);
    ULONGLONG deadline = GetTickCount64() + 90000;
    while (GetFileAttributesA(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
        Sleep(50);
    logLine("RELEASED closed by the node %d", closedByNode());
    for (SOCKET c : held)
        closesocket(c);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 4) {
        std::fprintf(stderr, "usage: quarn_rawpeer MODE IP PORT [STOPFILE]\n");
        return 64;
    }
    CQuarnRawPeer peer;
    std::string mode = argv[1];
    DWORD address = CQuarnRawPeer::parseAddress(argv[2]);
    WORD port = static_cast<WORD>(std::atoi(argv[3]));
    if (mode == "requests")
        return requests(address, port);
    if (mode == "alive-back")
        return aliveBack(address, port);
    if (mode == "fake" && argc > 4)
        return fake(address, port, argv[4]);
    if (mode == "blast-udp" && argc > 4)
        return blastDatagrams(address, port, argv[4]);
    if (mode == "hold" && argc > 5)
        return holdIdle(address, port, std::atoi(argv[4]), argv[5]);
    if (mode == "blast-tcp")
        return blastRequests(address, port);
    if (mode == "receive" && argc > 5)
        return rawReceive(address, port, argv[4], argv[5]);
    if (mode == "send" && argc > 8)
        return rawSend(address, port, argv[4], argv[5], argv[6], argv[7], std::strtoull(argv[8], nullptr, 0),
                       argc > 9 ? argv[9] : "");
    if (mode == "blast-files" && argc > 4)
        return rawBlastFiles(address, port, argv[4], argc > 5 ? std::atoi(argv[5]) : 100000, argc > 6 ? argv[6] : "mix");
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 64;
}
