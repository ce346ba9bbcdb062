#pragma once
// A find asked for on a worker thread, carried to the lookup proxy's UI thread and back. The
// worker and the UI thread's command share it (std::shared_ptr): a command that runs late, or
// never, neither loses it under the other side nor leaves it behind.
#include "CJObject.h"
#include "CTerminalInfo.h"

#include <atomic>
#include <string>
#include <vector>

class FindParameterSet : public CJObject {
public:
    explicit FindParameterSet(const std::vector<std::string>& terminalIds);

    // Set by the UI thread as its last act on the record: only then may the worker read what
    // the search left.
    std::atomic<bool> done{false};
    std::vector<std::string> terminalIds;
    std::vector<CTerminalInfo> foundRecords;
    // The message of a CIOException (or of any other failure) of the search.
    std::string ioFailure;
    // The message of a CLusException of the search.
    std::string lusFailure;
};
