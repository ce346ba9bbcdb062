#pragma once
// A replicated element with a place and a look on the stage: location, size, motion,
// decoration, attribute and either a view id or a picture. Every copy keeps these values, the
// copies stay equal through named remote methods, and each copy feeds them to its display
// window (IElementDisplay).
//
// Changes entered on a terminal are accepted only from the terminal that holds the element's
// operator right, unless the element is told that no right is needed. The master copy decides
// who holds the right; a slave that holds it renews it every few seconds as a lease, and the
// master takes it back when the renewals stop. The leases of all viewable elements of the
// process tick on one shared clock thread ("VIEW_ELEM_CLOCK"), made by the first element and
// deleted with the last.
//
// Threads: registered methods run on the element's handler thread; the direct senders
// (updateLocation, startMotion, stopMotion, updateMotion) on the caller's thread, in practice
// the UI thread; the lease tick on the shared clock thread. The values these threads share are
// kept under one lock, which is never held while the element calls out (display, session,
// clock, hooks).
#include "CJObject.h"
#include "CSharedElement.h"
#include "ITimeListener.h"

#include <ctime>
#include <string>
#include <vector>

class CClock;
class IElementDisplay;

class CViewableElement : public CSharedElement, public virtual ITimeListener {
public:
    // Lease timing, all from the renewal time.
    static constexpr int RENEWAL_SECONDS = 3;
    static constexpr int EXPIRY_SECONDS = 2 * RENEWAL_SECONDS;
    static constexpr unsigned CLOCK_PERIOD_MS = RENEWAL_SECONDS * 1000 / 16;
    static constexpr unsigned HOLDER_CHECK_MS = RENEWAL_SECONDS * 1000 / 8;
    static constexpr unsigned MASTER_CHECK_MS = EXPIRY_SECONDS * 1000 / 4;
    static const char CLOCK_THREAD_NAME[];

    // A replica (slave copy): its values come from the master while it synchronises.
    CViewableElement();
    // A master copy shown by a view id.
    CViewableElement(const std::string& location, const std::string& size, const std::string& motion,
                     const std::string& decoration, const std::string& attribute, const std::string& viewId);
    // A master copy shown by a picture. The element takes the buffer over (allocated with
    // new unsigned char[]); null means no picture, and the empty view id is shown instead.
    CViewableElement(const std::string& location, const std::string& size, const std::string& motion,
                     const std::string& decoration, const std::string& attribute, unsigned viewDataSize,
                     unsigned char* viewData, int viewWidth, int viewHeight);
    // Stops the lease timer, frees the picture, leaves the shared clock.
    ~CViewableElement() override;

    void onPlugIn(const std::string& text) override;
    // Stops the lease timer, unbinds the display (which stays set), then the subclass hook.
    void onPlugOut(const std::string& text) override;
    // Master: sends a synchronising slave the view values, then the holder of the right.
    void onSync() override;
    // Slave: the subclass hook, then the display is filled.
    void onEndSync() override;

    // Direct senders, with the gate and effect of their "LOC_" twins, on the caller's thread.
    // A send failure (not plugged in) is thrown to the caller.
    void updateLocation(const std::string& location);
    void startMotion();
    void stopMotion();
    void updateMotion(const std::string& motion);

    // Keeps the display (never null) and fills it at once when this copy is synchronised.
    void setElementDisplay(IElementDisplay* display);
    // Pushes the whole view into the display.
    void intiView(IElementDisplay* display);
    // False: local changes go out without the operator right (a cursor's element).
    void setOperatorRequired(bool required);
    // This terminal holds the operator right.
    bool isOperator() const;
    std::string getOperator() const;
    std::string getRequestId() const;

    // The lease tick, on the shared clock thread.
    void timeElapsed(int value) override;

    // The wall clock of the leases, in whole seconds; null gives back the system's (time()).
    // For tests that let a lease run out without waiting.
    typedef time_t (*TimeSource)();
    static void setTimeSource(TimeSource source);

protected:
    virtual void onPlugInViewableElement(const std::string& text) = 0;
    virtual void onPlugOutViewableElement(const std::string& text) = 0;
    // Master: send the subclass's own initial values to the synchronising slave.
    virtual void onSyncViewableElement() = 0;
    virtual void onEndSyncViewableElement() = 0;
    // Every change of holder, on every copy: the lost hook with the old holder, then the gained
    // hook with the new one ("@INVALID_TERMINAL" and an empty request id when nobody).
    virtual void onGainedOperation(const std::string& operatorTermId, const std::string& requestId) = 0;
    virtual void onLostOperation(const std::string& operatorTermId, const std::string& requestId) = 0;

    // The operator right (master copy decides; see the registered methods).
    void setOperator(const std::string& operatorTermId);
    void setRequestId(const std::string& requestId);
    void changeOperator(const std::string& operatorTermId, const std::string& requestId);
    void assignToOperator(const std::string& requester, const std::string& requestId);
    void removeFromOperator(const std::string& requester);
    void startTimer();
    void endTimer();

private:
    struct ViewState;

    void commonInit();
    void joinSharedClock();
    void leaveSharedClock();
    ViewState snapshot() const;
    IElementDisplay* currentDisplay() const;
    void setEndingSync(bool ending);
    bool runsOnMaster(const char* method) const;
    bool runsOnSlave(const char* method) const;
    std::string callerTerminal() const;
    bool mayChange(const char* operation) const;
    void enterChange(std::string CViewableElement::*field, const std::string& text, const char* copMethod,
                     const char* operation);
    void enterMotion(const char* copMethod, const char* operation);
    IElementDisplay* storeText(std::string CViewableElement::*field, const std::string& text);
    void showText(std::string CViewableElement::*field, void (IElementDisplay::*show)(const std::string&),
                  const std::string& text);
    void showMotion(void (IElementDisplay::*show)());
    void initText(std::string CViewableElement::*field, const std::string& text, const char* method);
    static time_t now();

    // Registered methods.
    void INS_initLocation(const std::string& location);
    void INS_initSize(const std::string& size);
    void INS_initMotion(const std::string& motion);
    void INS_initDecoration(const std::string& decoration);
    void INS_initAttribute(const std::string& attribute);
    void INS_initViewId(const std::string& viewId);
    void INS_initViewData(int size, const unsigned char* bytes);
    void INS_initViewSize(const std::string& viewSize);
    void INS_initOperator(const std::string& operatorTermId);
    void COP_updateLocation(const std::string& location);
    void COP_updateSize(const std::string& size);
    void COP_startMotion(const std::string& unused);
    void COP_stopMotion(const std::string& unused);
    void COP_updateMotion(const std::string& motion);
    void COP_updateDecoration(const std::string& decoration);
    void INS_updateOperator(const std::string& text);
    void LOC_updateLocation(const std::string& location);
    void LOC_updateSize(const std::string& size);
    void LOC_startMotion();
    void LOC_stopMotion();
    void LOC_updateMotion(const std::string& motion);
    void LOC_updateDecoration(const std::string& decoration);
    void LOC_assignToOperator(const std::string& requestId);
    void LOC_removeFromOperator();
    void LOC_noOperator();
    void REQ_assignToOperator(const std::string& requestId);
    void REQ_continueOperator(const std::string& requestId);
    void REQ_removeFromOperator();

    // stateLock_ guards everything below up to the lease fields; innermost lock, held briefly.
    mutable CJObject stateLock_;
    IElementDisplay* display_;
    bool endingSync_; // onEndSync runs the subclass hook
    std::string operatorTermId_;
    std::string requestId_;
    std::string renewalId_;
    std::string location_;
    std::string size_;
    std::string motion_;
    std::string decoration_;
    std::string attribute_;
    unsigned viewDataSize_;
    unsigned char* viewData_;
    int viewWidth_;
    int viewHeight_;
    std::string viewId_;
    time_t leaseStamp_;
    bool leaseIdle_;
    bool operatorRequired_;

    // timerLock_ guards the registration with the shared clock; held around the clock's own
    // add and remove, never while stateLock_ is held.
    CJObject timerLock_;
    bool timerRegistered_;
    bool leaseStopped_; // between plug-out and the next plug-in no lease timer starts
    CClock* clock_;     // the shared clock, alive as long as this element
};
