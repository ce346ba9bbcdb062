// A lookup probe for the tavapp scenarios: a terminal of its own on a test-LAN host, with its
// own middleware connection and proxy, that lists the records of an application on every
// reachable computer.
//
//   lus_probe APPLICATION_ID NODES SECONDS [STOPFILE [ID DATA]]
//
// Waits (at most SECONDS) until the root lists NODES computers, then prints one line per record
// of category "Server" or "": "RECORD <id> <valid|invalid> [category] [ip] <port> [data]",
// then "END". With STOPFILE it then stays connected (so that its computer's middleware keeps
// the other computers in view) until that file exists, at most 600 s; with ID and DATA it first
// publishes a forged record of category "Server" with that data under that id, and takes it
// out again at the end. Exit 0; 1 when the middleware cannot be used or the computers are not
// seen.
#include "CLocalMethod.h"
#include "CQUARNInterface.h"
#include "CQUARNLookupDir.h"
#include "CQuarnLusProxy.h"
#include "CThread.h"
#include "CTrace.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

DWORD rootNodes(CQUARNInterface& quarn)
{
    std::unique_ptr<CQUARNLookupDir> root(quarn.openLookupDir("\\", nullptr));
    if (!root || !root->WaitReady(100))
        return 0;
    DWORD count = root->GetEntryCount();
    return count == CQUARNLookupDir::COUNT_FAILED ? 0 : count;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: lus_probe APPLICATION_ID NODES SECONDS [STOPFILE [ID DATA]]\n");
        return 2;
    }
    std::string application = argv[1];
    DWORD nodes = static_cast<DWORD>(std::atoi(argv[2]));
    DWORD limitMs = static_cast<DWORD>(std::atoi(argv[3])) * 1000;
    CTrace::setOutputToFile();
    CThread::registerUIThread();
    CLocalMethod* invoker = new CLocalMethod;
    CQUARNInterface quarn;
    if (!quarn.Initialize()) {
        std::printf("NO MIDDLEWARE\n");
        return 1;
    }
    DWORD start = GetTickCount();
    while (rootNodes(quarn) < nodes && GetTickCount() - start < limitMs)
        Sleep(250);
    int code = 0;
    if (rootNodes(quarn) < nodes) {
        std::printf("NODES %lu\n", static_cast<unsigned long>(rootNodes(quarn)));
        code = 1;
    } else {
        ILookupServiceHandle* proxy = CQuarnLusProxy::create(&quarn, application, invoker->GetSafeHwnd());
        bool forged = argc == 7;
        if (forged) {
            CTerminalInfo info("Server", "0.0.0.0", 0, argv[6]);
            info.setValid();
            proxy->regist(argv[5], info);
        }
        std::vector<std::string> ids;
        proxy->enumByCategory(std::vector<std::string>{"Server", ""}, ids);
        std::vector<CTerminalInfo> infos;
        proxy->find(ids, infos);
        for (size_t i = 0; i < ids.size() && i < infos.size(); ++i) {
            const CTerminalInfo& info = infos[i];
            std::printf("RECORD %s %s [%s] [%s] %d [%s]\n", ids[i].c_str(), info.isValid() ? "valid" : "invalid",
                        info.getCategory().c_str(), info.getIpAddress().c_str(), info.getPortNum(),
                        info.getOptionalData().c_str());
        }
        std::printf("END\n");
        std::fflush(stdout);
        const DWORD HOLD_LIMIT_MS = 600000;
        for (DWORD held = GetTickCount(); argc >= 5 && GetTickCount() - held < HOLD_LIMIT_MS;) {
            if (GetFileAttributesA(argv[4]) != INVALID_FILE_ATTRIBUTES)
                break;
            Sleep(200);
        }
        if (forged)
            proxy->remove(argv[5]);
        delete proxy;
    }
    std::fflush(stdout);
    quarn.Uninitialize();
    delete invoker;
    return code;
}
