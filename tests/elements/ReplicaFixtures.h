#pragma once
// Stand-ins for the tests of replicated elements: a shared element that notes its
// synchronisation and cooperative calls.
#include "CSharedElement.h"
#include "TestSupport.h"

#include <string>

// How many ERROR lines of the capture hold the piece.
// The ERROR lines of the capture that hold the piece, one a line.
std::string errorText(const TraceCapture& capture, const std::string& piece);
int errorLines(const TraceCapture& capture, const std::string& piece);

// A copy of a replicated element. Notes, as "<terminal> <what>":
//   "onPlugIn", "onSync <caller>" (master), "INS_initFirst <text>", "INS_initSecond <text>",
//   "onEndSync synchronized=<0|1>", "COP_note [<text>]".
// Its master sends "INS_initFirst" ("first") and "INS_initSecond" ("second") while it
// synchronises a slave. "LOC_cooperate" runs "COP_note" here and then on every other copy.
class TestCopy : public CSharedElement {
public:
    TestCopy(Journal& journal, const std::string& id, bool master);

    void onPlugIn(const std::string& text) override;
    void onSync() override;
    void onEndSync() override;

    using CSharedElement::queryMasterStr;
    using CSharedElement::replyToCaller;
    using CSharedElement::replyToCallerStr;
    using CSharedElement::requestMasterMethod;
    using CSharedElement::sendToMaster;
    using CSharedElement::sendToMasterBuf;
    using CSharedElement::sendToMasterStr;
    using CSharedElement::sendToSlaves;
    using CSharedElement::sendToSlavesBuf;
    using CSharedElement::sendToSlavesStr;

private:
    void note(const std::string& what);
    void INS_initFirst(const std::string& text);
    void INS_initSecond(const std::string& text);
    void COP_note(const std::string& text);
    void LOC_cooperate(const std::string& text);
    void LOC_other(const std::string& text);

    Journal& journal_;
};
