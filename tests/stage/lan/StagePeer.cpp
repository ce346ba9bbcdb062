// One terminal of a session on a host of the test LAN (tools/lan) with the stage as the session
// logic builds it: on the user-interface thread (registered, with the invoker and a message
// loop) the picture loader, the file copy element, a CNetwork that hosts ("LC") or joins ("RM")
// the DirectPlay session, and the stage with its contents over a recording stage view. A
// stand-in for the director posts "LOC_uninstallAll" on the host when another terminal left.
//
//   stage_peer host DIR NAME
//   stage_peer join DIR NAME HOST_IP
//
// Commands, one a line in DIR/NAME.cmd, each answered "DONE <line number>" in the log:
//   picture PATH W H   writes a solid 24-bit picture of W x H and installs it as a content
//   install PATH       installs the file as a content
//   top N              "LOC_changeTop" with the N-th key (from the bottom) of the lower layer
//   custom PATH W H    writes a solid picture, makes it the custom background and shows it
//   layer              logs "LAYER <key>|<key>..." of the lower layer, bottom first
//   close              plug the stage out, close the session, end
// Log lines: "VIEW <operation>" and "DISPLAY <display> <operation>" for what the view and its
// displays were told, "REFER <n>" once synchronised, "EVENT <id> <terminal>".
#include "CFileCopy.h"
#include "CJException.h"
#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CNetwork.h"
#include "CPreferenceManager.h"
#include "CStage.h"
#include "CThread.h"
#include "CTrace.h"
#include "ISessionHandleEventListener.h"
#include "PeerIo.h"
#include "PictureFiles.h"
#include "StageRecorders.h"

#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <winsock2.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char APPLICATION[] = "764A7520-9D2C-11d4-AFDB-00105A67EDD0";
constexpr DWORD kPhaseWait = 90000;  // ms for the host's session to appear
constexpr DWORD kLifeLimit = 400000; // ms a terminal waits for commands before it gives up
constexpr UINT kTickMs = 20;

std::vector<std::string> words(const std::string& line)
{
    std::stringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

class Terminal : public ISessionHandleEventListener {
public:
    Terminal(const std::string& dir, const std::string& name, bool isHost)
        : dir_(dir), name_(name), isHost_(isHost), gui_(&view)
    {
    }

    void OnSessionHandleEvent(int eventId, const std::string& terminalId) override
    {
        PeerIo::log("EVENT %d %s", eventId, terminalId.c_str());
        if (isHost_ && eventId == 1 && terminalId != name_ && stage && !ended_) {
            CLocalMethod::postMethodStr(stage->getObjectId(), "LOC_uninstallAll", terminalId);
            PeerIo::log("POSTED LOC_uninstallAll %s", terminalId.c_str());
        }
    }

    bool build(const std::string& hostIp)
    {
        try {
            CoInitialize(nullptr); // the preference manager releases one
            prefs.reset(new CPreferenceManager("Software\\TavelinTests\\stage_peer\\" + name_, APPLICATION, name_,
                                               "Nick" + name_, "C:\\"));
            copy.start("FILE_COPY");
            network = CNetwork::create(name_, isHost_, isHost_ ? "LC" : "RM");
            if (isHost_) {
                std::string session = network->openLocalSession(APPLICATION, this);
                PeerIo::writeFile(PeerIo::path(dir_, "session.guid"), session);
            } else {
                std::string file = PeerIo::path(dir_, "session.guid");
                if (!PeerIo::waitFile(file, kPhaseWait)) {
                    PeerIo::log("NO SESSION");
                    return false;
                }
                network->openRemoteSession(APPLICATION, PeerIo::readFile(file), hostIp, this);
            }
            PeerIo::log(isHost_ ? "HOSTING" : "JOINED");
            stage.reset(new CStage(network, isHost_, &gui_, prefs.get(), &copy));
            stage->start(isHost_ ? "M_STAGE" : "S_STAGE");
            network->plugIn(stage->getElementId(), stage.get());
            PeerIo::log("PLUGGED");
            return true;
        } catch (CJException& e) {
            PeerIo::log("BUILD FAILED %s", e.getMessage().c_str());
            return false;
        }
    }

    int run()
    {
        ULONGLONG deadline = GetTickCount64() + kLifeLimit;
        UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, nullptr);
        MSG msg;
        while (!ended_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
                tick();
                if (GetTickCount64() > deadline && !ended_) {
                    PeerIo::log("GAVE UP");
                    end();
                    exitCode_ = 2;
                }
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        KillTimer(nullptr, timer);
        return exitCode_;
    }

    // The director's order at the end: the stage out of the session and ended, the session
    // closed, then deleted.
    void end()
    {
        ended_ = true;
        std::string thrown = "OK";
        try {
            if (stage && network)
                network->plugOut(stage->getElementId());
        } catch (CJException& e) {
            thrown = "plugOut " + e.getMessage();
        }
        if (stage)
            stage->end();
        try {
            if (network)
                network->close();
        } catch (CJException& e) {
            thrown = "close " + e.getMessage();
        }
        flush();
        stage.reset();
        delete network;
        network = nullptr;
        try {
            copy.end();
        } catch (CJException&) {
        }
        prefs.reset();
        PeerIo::log("CLOSED %s", thrown.c_str());
    }

    CLocalMethod invoker;
    CLeadImage loader;
    CFileCopy copy;
    RecordingStageView view;
    std::unique_ptr<CPreferenceManager> prefs;
    ISessionHandle* network = nullptr;
    std::unique_ptr<CStage> stage;

private:
    // What the view and the displays were told since the last tick.
    void flush()
    {
        std::vector<std::string> calls = view.calls.entries();
        for (; viewLogged_ < calls.size(); ++viewLogged_)
            PeerIo::log("VIEW %s", calls[viewLogged_].c_str());
        std::vector<std::string> shown = view.display.entries();
        for (; displayLogged_ < shown.size(); ++displayLogged_)
            PeerIo::log("DISPLAY %s", shown[displayLogged_].c_str());
    }

    void tick()
    {
        flush();
        if (!synchronized_ && stage && stage->isSynchronized()) {
            synchronized_ = true;
            PeerIo::log("REFER %d", stage->getReferNum());
        }
        std::string text = PeerIo::readFile(PeerIo::path(dir_, name_ + ".cmd"));
        std::vector<std::string> lines;
        size_t at = 0;
        for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        while (!ended_ && done_ < lines.size()) {
            std::string line = lines[done_];
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ++done_;
            command(line);
            PeerIo::log("DONE %zu", done_);
        }
    }

    void installFile(const std::string& path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        long long size = 0;
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        std::string desc = CStage::makeElementDesc("10 10", CStage::SIZE_FIELD, CStage::MOTION_FIELD,
                                                   std::to_string(stage->getReferNum()),
                                                   std::to_string(size) + " *" + path + " *Nick" + name_, path,
                                                   CStage::DESC_WIDTH, CStage::DESC_HEIGHT);
        CLocalMethod::postMethodStr(stage->getObjectId(), "LOC_install", desc);
    }

    std::string writePicture(const std::vector<std::string>& w)
    {
        std::string path = w.at(1);
        PictureFiles::write(path, PictureFiles::bmp24(std::stoi(w.at(2)), std::stoi(w.at(3)),
                                                      solid(Rgb{40, 90, 200})));
        return path;
    }

    void command(const std::string& line)
    {
        std::vector<std::string> w = words(line);
        try {
            if (w.empty()) {
            } else if (w[0] == "picture") {
                installFile(writePicture(w));
            } else if (w[0] == "install") {
                installFile(w.at(1));
            } else if (w[0] == "top") {
                std::vector<std::string> layer = view.lowerLayer();
                size_t n = static_cast<size_t>(std::stoi(w.at(1)));
                if (n < layer.size())
                    CLocalMethod::postMethodStr(stage->getObjectId(), "LOC_changeTop", layer[n]);
                else
                    PeerIo::log("NO KEY %zu", n);
            } else if (w[0] == "custom") {
                std::string path = writePicture(w);
                CLocalMethod::postMethodStr(stage->getObjectId(), "LOC_updateCustomBgFile", path);
                CLocalMethod::postMethodStr(stage->getObjectId(), "LOC_updateBackGround", "4");
            } else if (w[0] == "layer") {
                std::string shown;
                for (const std::string& key : view.lowerLayer())
                    shown += (shown.empty() ? "" : "|") + key;
                PeerIo::log("LAYER %s", shown.c_str());
            } else if (w[0] == "close") {
                end();
            } else {
                PeerIo::log("UNKNOWN COMMAND %s", line.c_str());
            }
        } catch (CJException& e) {
            PeerIo::log("COMMAND FAILED %s: %s", line.c_str(), e.getMessage().c_str());
        } catch (std::exception& e) {
            PeerIo::log("COMMAND FAILED %s: %s", line.c_str(), e.what());
        }
    }

    std::string dir_;
    std::string name_;
    bool isHost_;
    RecordingGui gui_;
    size_t done_ = 0;
    size_t viewLogged_ = 0;
    size_t displayLogged_ = 0;
    bool synchronized_ = false;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 4) {
        std::fprintf(stderr, "usage: stage_peer host|join DIR NAME [HOST_IP]\n");
        return 64;
    }
    std::string mode = argv[1], dir = argv[2], name = argv[3];
    std::string hostIp = argc > 4 ? argv[4] : "";
    std::string own = PeerIo::path(dir, name);
    CreateDirectoryA(own.c_str(), nullptr);
    SetCurrentDirectoryA(own.c_str());
    CTrace::setOutputToFile();
    CTrace::setDumpOff();
    CTrace::setCodeScope("CStage;CSharedSpace;CContent");
    CTrace::setThreadName("MAIN");
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    CThread::registerUIThread();
    bool isHost = mode == "host";
    if (!isHost && mode != "join") {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 64;
    }
    int rc;
    {
        Terminal terminal(dir, name, isHost);
        if (!terminal.build(hostIp)) {
            terminal.end();
            rc = 1;
        } else {
            rc = terminal.run();
        }
    }
    WSACleanup();
    return rc;
}
