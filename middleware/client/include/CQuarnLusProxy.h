#pragma once
// The program's lookup service over the middleware. A terminal's record lives in its own
// computer's application directory:
//   \node\Applications\application id\TerminalInfos\terminal id\{Category,PortNum,OptionalData}
//   \node\Applications\application id\Categorys\terminal id   (the category again)
//   \node\Applications\application id\PortNums\terminal id    (the port again)
// and is read from every computer's copy of that directory. The proxy belongs to the UI thread
// that created it (one proxy per process, ever): a find asked for on another thread is run on
// that thread through the proxy's hidden window. What other computers' programs wrote there is
// foreign data: whatever it holds is skipped with an ERROR line, never the end of the process.
#include "ILookupServiceHandle.h"

#include <CWnd.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CQUARNAPDir;
class CQUARNInterface;
class CQUARNLookupDir;

class CQuarnLusProxy : public CWnd, public virtual ILookupServiceHandle {
public:
    // The one proxy of the process, owned by the caller. CNoSuchElementException when a proxy
    // was made before in this process (also one that is gone); CIllegalArgumentException for a
    // null interface, an empty application id or a null window, checked in that order.
    static ILookupServiceHandle* create(CQUARNInterface* quarn, std::string applicationId, HWND window);
    ~CQuarnLusProxy() override;

    void regist(std::string terminalId, CTerminalInfo info) override;
    void remove(std::string terminalId) override;
    void find(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found) override;
    CTerminalInfo find(std::string terminalId) override;
    void enumByCategory(const std::vector<std::string>& categories, std::vector<std::string>& terminalIds) override;
    void enumByCategory(std::string category, std::vector<std::string>& terminalIds) override;
    void enumByIpAddress(const std::vector<std::string>& addresses, std::vector<std::string>& terminalIds) override;
    void enumByIpAddress(std::string address, std::vector<std::string>& terminalIds) override;
    void enumByPortNum(unsigned portNum, std::vector<std::string>& terminalIds) override;
    bool isNotFound(const CTerminalInfo& info) override;

    // The middleware name of a failure code padded to one column, then "GetLastError()= 0x%08X".
    static std::string traceLastError(DWORD code);
    // The name under which the proxy's window takes its commands.
    const std::string& getObjectId() const { return objectId; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    // WM_LUS_PROXY_COMMAND: runs a worker's find; answers 1 once it ran, 0 for a record that no
    // worker waits for and (with an ERROR line) for an unknown command.
    LRESULT OnQuarnLusProxyCommand(WPARAM wParam, LPARAM lParam);

private:
    CQuarnLusProxy(CQUARNInterface* quarn, const std::string& applicationId, HWND window);

    void checkCreatorThread(const char* operation) const;
    void openDatabase();
    void closeDatabase();
    void registEntry(const std::string& terminalId, const CTerminalInfo& info);
    void removeEntry(const std::string& terminalId);

    void OnFind(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found);
    void enumAccessableQuarnList(std::vector<std::string>& nodes);
    // Each reachable node, the last in the root first.
    void forEachNode(const std::function<void(const std::string& node)>& visit);
    void findTerminalInfo(const std::string& node, const std::vector<std::string>& terminalIds,
                          std::vector<CTerminalInfo>& found);
    void readTerminalInfo(const std::string& node, const std::string& terminalId, CTerminalInfo& info);
    // The node's address as others reach it; throws what GetIP or the local host's lookup throws.
    std::string nodeAddress(const std::string& node);
    std::string normalizeIpAddress(const std::string& address);
    void enumTerminalIdByCategory(const std::string& node, const std::vector<std::string>& categories,
                                  std::vector<std::string>& terminalIds);
    void enumTerminalIdByIpAddress(const std::string& node, const std::vector<std::string>& addresses,
                                   std::vector<std::string>& terminalIds);
    void enumTerminalIdByPortNum(const std::string& node, const std::vector<unsigned>& portNums,
                                 std::vector<std::string>& terminalIds);

    using TerminalVisit = std::function<void(CQUARNLookupDir& directory, DWORD index, const std::string& name)>;
    // Each entry of the node's subdirectory of the application, last first, that has the type
    // expected and a name that can be a terminal id; the others are skipped with an ERROR line.
    // Nothing when the directory cannot be read.
    void forEachTerminal(const std::string& node, const char* subdirectory, DWORD type, const char* operation,
                         const TerminalVisit& visit);
    // A readable directory of the lookup view (closed and deleted on every path by its owner),
    // or null after a trace line.
    CQUARNLookupDir* openReadable(const std::string& path);
    // Entries of the directory to look at, last one first; 0 after an ERROR line when the
    // count cannot be read or is beyond what an honest directory holds.
    DWORD entryCount(CQUARNLookupDir* directory);
    std::string applicationPath(const std::string& node, const char* subdirectory) const;

    CQUARNInterface* pQuarn;
    CQUARNAPDir* pApDir;
    std::string applicationId;
    HWND hWindow;
    std::string objectId;
    bool socketsStarted;
};
