#pragma once
// The shared Stage's model: one copy on every terminal of a session, the hosting terminal's the
// master. Through its shared space it holds one content element per dropped file and one per
// terminal's mouse cursor (originals made here, replicas on behalf of the others); on top of
// that it keeps what all terminals share about the Stage itself: the background (a built-in one
// or the custom picture), the order of the lower display layer, which every change takes
// through the master, and each terminal's reference number, which the master hands out.
//
// Also the texts it shares between terminals and with the stage window and the contents. An
// element descriptor names one content or cursor (and is the key under which every terminal
// keeps it), a layer list gives the order of the lower display layer, a size text the size of
// the custom background.
//
// The remote methods and the space's hooks run on the stage's handler thread, one at a time.
// getDisplay and the getters run on the handler threads of its contents.
#include "CSharedSpace.h"
#include "CVector.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class CFileCopy;
class CPreferenceManager;
class IElementDisplay;
class IFileTransmitter;
class IGuiHandle;
class IStageView;
class ISessionHandle;

class CStage : public CSharedSpace {
public:
    // The stage's element id, the same on every terminal.
    static const char ELEMENT_ID[];
    // Between the nine fields of a descriptor.
    static const std::string ELEM_DESC_SEP;
    // Between the keys of a layer list.
    static const std::string ALIGN_DESC_SEP;
    // The path field of a cursor's descriptor.
    static const std::string CURSOR_PATH;
    static const std::string SIZE_FIELD;
    static const std::string MOTION_FIELD;

    // Longest descriptor taken from a peer: ten times the longest the program makes (a
    // 516-byte dropped path, a 260-byte copy path and a 255-character nickname in its fields).
    static constexpr size_t MAX_DESC_LENGTH = 16384;
    // Most keys read from one layer list: twice the replicas a shared space holds.
    static constexpr size_t LAYER_KEY_LIMIT = 1024;
    // Reference numbers one master hands out. Each synchronisation of a new terminal takes one
    // and keeps a list entry; a peer that synchronises again and again must not grow the list
    // without bound. Far more than terminals ever join one session.
    static constexpr int REFERENCE_LIMIT = 65536;
    // The built-in backgrounds are 0 to 3; the custom picture is the view's custom number (4).
    static constexpr int LAST_BACKGROUND = 4;
    // Largest side of a custom background taken from the master: the loader's limit.
    static constexpr int CUSTOM_SIDE_LIMIT = 2048;
    // The size of every descriptor the program makes.
    static constexpr int DESC_WIDTH = 120;
    static constexpr int DESC_HEIGHT = 90;

    // None of the arguments is owned. The view and the file transmitter come from the GUI
    // handle; the own terminal id, the background and the custom background file from the
    // preferences.
    CStage(ISessionHandle* session, bool master, IGuiHandle* gui, CPreferenceManager* prefs, CFileCopy* fileCopy);
    ~CStage() override;

    std::string getElementId() const override;

    // The hooks of the shared space.
    CSharedElement* createOriginalElement(const std::string& elemDesc) override;
    CSharedElement* createReplicaElement(const std::string& elemDesc) override;
    void onPlugInSharedSpace(const std::string& text) override;
    void onPlugOutSharedSpace(const std::string& text) override;
    void onSyncSharedSpace() override;
    void onEndSyncSharedSpace() override;
    void onBeforePlugInOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugInOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onBeforePlugOutOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugOutOrgElem(const std::string& elemDesc, CSharedElement* element) override;
    void onBeforePlugInRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugInRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onBeforePlugOutRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onAfterPlugOutRplElem(const std::string& elemDesc, CSharedElement* element) override;
    void onRemoveAllRplElems(const std::string& termId) override;

    // A new display for the element: a cursor window for a cursor's descriptor (marked own only
    // for this terminal's own cursor), else a content window. Null when the view gives none,
    // and, with an error line, when the key has a display already.
    IElementDisplay* getDisplay(const std::string& elemDesc);
    // Removes the key's display, once; a key without one changes nothing.
    void releaseDisplay(const std::string& key);
    CPreferenceManager* getPreferenceManager();
    IFileTransmitter* getFileTransmitter();
    CFileCopy* getFileCopy();
    // This terminal's reference number (0 on a slave until the master has told it).
    int getReferNum();

    // "serial_stageid", then the fields in order, ELEM_DESC_SEP between each two. Takes the
    // next serial number of the process; any thread.
    static std::string makeElementDesc(const std::string& location, const std::string& size,
                                       const std::string& motion, const std::string& decoration,
                                       const std::string& attribute, const std::string& path,
                                       int width, int height);
    // Reads every field but the key; the path is all after the eighth separator. False, with
    // nothing set, for a text of fewer than eight separators or over MAX_DESC_LENGTH bytes:
    // no such element.
    static bool parseElementDesc(const std::string& desc, int* width, int* height,
                                 std::string* location, std::string* size, std::string* motion,
                                 std::string* decoration, std::string* attribute, std::string* path);
    // True when the path field is exactly CURSOR_PATH.
    static bool isCursorDesc(const std::string& desc);

    // The entries' texts in order, the separator between each two.
    static std::string joinDesc(CVector& entries, const std::string& separator);
    // The keys of a layer list, bottom first, up to the first empty one; after LAYER_KEY_LIMIT
    // keys the rest is dropped with an error line.
    static std::vector<std::string> parseLayerList(std::string_view list);

    // "width height".
    static std::string sizeToString(int width, int height);
    // Width from the text before the first blank, height from the text after it, each by atoi.
    static void parseSize(std::string_view text, int* width, int* height);
    // A decimal number by atoi's rules: leading white space, a sign, the digits; 0 without
    // digits. Values beyond 32 bits are clamped.
    static int parseNumber(std::string_view text);

    // The process's stage id: a GUID text, made on first use and kept for the process's life.
    static const std::string& getStageId();

private:
    // The remote and local methods.
    void INS_setCustomBgDataId(const std::string& id);
    void INS_setCustomBgSize(const std::string& size);
    void INS_initReferNum(const std::string& number);
    void INS_initCustomBgData(int size, const unsigned char* bytes);
    void INS_initBackGround(const std::string& number);
    void INS_initLowerLayer(const std::string& list);
    void LOC_updateBackGround(const std::string& number);
    void LOC_updateCustomBgFile(const std::string& path);
    void LOC_changeTop(const std::string& key);
    void LOC_changeBottom(const std::string& key);
    void LOC_placeTopMost(const std::string& key);
    void REQ_changeTop(const std::string& key);
    void REQ_changeBottom(const std::string& key);
    void REQ_placeTopMost(const std::string& key);
    void INS_changeCustomBgData(int size, const unsigned char* bytes);
    void INS_changeBackGround(const std::string& number);
    void INS_moveToTop(const std::string& key);
    void INS_moveToBottom(const std::string& key);
    void INS_moveToUpperLayer(const std::string& key);
    void LOC_copy(const std::string& job);
    void LOC_onFileCopied(const std::string& report);

    // Role and timing checks: an error line when the call does not belong here.
    bool onSlave(const char* method);
    bool onMaster(const char* method);
    bool beforeSync(const char* method);
    bool afterSync(const char* method);
    bool isBackground(int number, const char* method);

    void moveToTop(const std::string& key);
    void moveToBottom(const std::string& key);
    void prepareCustomData();
    void takeCustomData(const char* method, int size, const unsigned char* bytes);
    void showCustomData();
    void sendCustomData(const char* dataMethod, bool toCallerOnly);
    void installOwnCursor();
    int referenceFor(const std::string& terminalId);
    void clearReferences();
    // Sends that fail (a peer gone, the session closing) are error lines: they must not cut a
    // synchronisation or a hook short.
    void toSlaves(const char* method, const std::string& text);
    void toSlavesBuf(const char* method, const std::vector<unsigned char>& bytes);
    void toMaster(const char* method, const std::string& text);
    void toCaller(const char* method, const std::string& text);
    void toCallerBuf(const char* method, const std::vector<unsigned char>& bytes);

    IStageView* view_;
    IFileTransmitter* fileTransmitter_;
    CPreferenceManager* prefs_;
    CFileCopy* fileCopy_;
    std::string ownTerminalId_;

    // Master: entry n is the terminal of reference number n (CJString, the stage's own);
    // referenceLeft_[n] is set once that terminal has left.
    CVector referenceList_;
    std::vector<bool> referenceLeft_;
    // Master: each listed terminal's latest number, so that a synchronisation finds it at once.
    std::map<std::string, int> latestReference_;
    std::atomic<int> referNum_;

    int backgroundNumber_;
    std::string customBgFile_;
    int customDataId_;             // master
    std::string slaveCustomDataId_; // slave: the version last announced
    bool customDataChanged_;
    std::vector<unsigned char> customData_;
    int customWidth_;
    int customHeight_;

    // The keys that have a display, and this terminal's own cursor; read by the contents'
    // threads as well.
    std::mutex displayLock_;
    std::set<std::string> displayed_;  // displayLock_
    std::string ownCursorDesc_;        // displayLock_
};
