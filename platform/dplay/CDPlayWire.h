#pragma once
// The byte form of what travels between two DirectPlay objects over one TCP connection.
//
// Every frame: u32 size (little-endian; the type byte plus the body), u8 type, body.
// All numbers are little-endian; a text is u8 length + that many non-NUL bytes.
//
//   HELLO          client first: magic "TAVDPLAY", u32 highest version spoken
//   WELCOME        host answer:  magic, u32 version chosen
//   REFUSE         u32 HRESULT; the sender closes afterwards
//   ENUM           GUID application (GUID_NULL: any), u32 DPENUMSESSIONS flags
//   SESSION        one session: u32 flags, GUID instance, GUID application, u32 max players,
//                  u32 current players, u32 user[4], text name
//   ENUM_END       the list is complete; the host closes afterwards
//   JOIN           GUID instance, GUID application
//   JOINED         the joined session, laid out as SESSION
//   CREATE_PLAYER  u32 DPPLAYER flags, text short name, text long name
//   PLAYER_CREATED u32 HRESULT, u32 player id
//   PLAYER_INFO    a player the client can see: u32 id, u32 flags, text short, text long
//   DESTROY_PLAYER u32 player id
//   DATA_BEGIN     u32 from, u32 to, u32 total size, first fragment (1..64 KiB)
//   DATA_MORE      next fragment (1..64 KiB) of the message begun last
//   KEEPALIVE      empty; sent after a second without other traffic
#include <windows.h>
#include <dplay.h>

#include <string>
#include <vector>

// A frame as read: the body points into the reader's buffer.
struct DPlayFrame {
  BYTE type = 0;
  const BYTE* body = nullptr;
  DWORD size = 0;
};

struct DPlaySessionInfo {
  DWORD flags = 0;
  GUID instance = GUID_NULL;
  GUID application = GUID_NULL;
  DWORD maxPlayers = 0;
  DWORD currentPlayers = 0;
  DWORD user[4] = {0, 0, 0, 0};
  std::string name;
};

struct DPlayPlayerInfo {
  DPID id = 0;
  DWORD flags = 0;
  std::string shortName;  // empty: none
  std::string longName;
};

struct DPlayDataBegin {
  DPID from = 0;
  DPID to = 0;
  DWORD total = 0;
  const BYTE* chunk = nullptr;
  DWORD chunkSize = 0;
};

class CDPlayWire {
 public:
  enum Type : BYTE {
    kHello = 1,
    kWelcome,
    kRefuse,
    kEnum,
    kSession,
    kEnumEnd,
    kJoin,
    kJoined,
    kCreatePlayer,
    kPlayerCreated,
    kPlayerInfo,
    kDestroyPlayer,
    kDataBegin,
    kDataMore,
    kKeepAlive,
    kLastType = kKeepAlive
  };

  static constexpr WORD kDefaultPort = 47624;  // DirectPlay's TCP/IP port
  static constexpr DWORD kVersion = 1;
  static constexpr DWORD kHeaderSize = 5;         // u32 size + type
  static constexpr DWORD kMaxFragment = 64 * 1024;
  static constexpr DWORD kDataBeginFixed = 12;    // from, to, total
  static constexpr DWORD kMaxDataHeader = kHeaderSize + kDataBeginFixed;
  static constexpr DWORD kMaxFrameSize = 1 + kDataBeginFixed + kMaxFragment;  // largest size field
  static constexpr DWORD kMaxMessage = 64u * 1024 * 1024;
  static constexpr DWORD kMaxText = 255;
  static constexpr DWORD kSessionFixed = 60;

  // Smallest and largest body of a type; false for a type that does not exist.
  static bool bodyLimits(BYTE type, DWORD& minBody, DWORD& maxBody);

  static std::vector<BYTE> hello(DWORD version);
  static std::vector<BYTE> welcome(DWORD version);
  static std::vector<BYTE> refuse(HRESULT hr);
  static std::vector<BYTE> enumRequest(const GUID& application, DWORD flags);
  static std::vector<BYTE> session(BYTE type, const DPlaySessionInfo& info);  // kSession or kJoined
  static std::vector<BYTE> enumEnd();
  static std::vector<BYTE> join(const GUID& instance, const GUID& application);
  static std::vector<BYTE> createPlayer(DWORD flags, const std::string& shortName, const std::string& longName);
  static std::vector<BYTE> playerCreated(HRESULT hr, DPID id);
  static std::vector<BYTE> playerInfo(const DPlayPlayerInfo& info);
  static std::vector<BYTE> destroyPlayer(DPID id);
  static std::vector<BYTE> keepAlive();
  // One data fragment frame into out (replacing its contents).
  static void dataFrame(std::vector<BYTE>& out, bool first, DPID from, DPID to, DWORD total,
                        const BYTE* chunk, DWORD chunkSize);
  // Only the header of that frame (at most kMaxDataHeader bytes), for a chunk sent from where
  // it lies; returns the header's size.
  static DWORD dataHeader(BYTE* out, bool first, DPID from, DPID to, DWORD total, DWORD chunkSize);

  // Decoders: false when the body is malformed (the connection is then dropped).
  static bool decodeHandshake(const DPlayFrame& f, DWORD& version);  // HELLO or WELCOME
  static bool decodeDword(const DPlayFrame& f, DWORD& value);        // REFUSE, DESTROY_PLAYER
  static bool decodeEnum(const DPlayFrame& f, GUID& application, DWORD& flags);
  static bool decodeSession(const DPlayFrame& f, DPlaySessionInfo& info);  // SESSION or JOINED
  static bool decodeJoin(const DPlayFrame& f, GUID& instance, GUID& application);
  static bool decodeCreatePlayer(const DPlayFrame& f, DPlayPlayerInfo& info);  // id left 0
  static bool decodePlayerCreated(const DPlayFrame& f, HRESULT& hr, DPID& id);
  static bool decodePlayerInfo(const DPlayFrame& f, DPlayPlayerInfo& info);
  static bool decodeDataBegin(const DPlayFrame& f, DPlayDataBegin& data);

  // A text fit to travel: at most kMaxText bytes, no NUL.
  static bool isValidText(const char* text);
};
