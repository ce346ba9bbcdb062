#include "CStageCommand.h"

#include "CJException.h"
#include "CJString.h"
#include "CLocalMethod.h"
#include "CTrace.h"

#include <memory>

namespace {

const char SCOPE[] = "CStageCommand";

} // namespace

void CStageCommand::postStr(const std::string& window, WPARAM code, const std::string& text)
{
    postText(window, WM_STAGE_CTRL_COMMAND, code, text);
}

void CStageCommand::postText(const std::string& window, UINT message, WPARAM code, const std::string& text)
{
    CJString* object = new CJString(text);
    try {
        CLocalMethod::postWndMsg(window, message, code, reinterpret_cast<LPARAM>(object));
    } catch (const CJException& e) {
        CTrace::trace(SCOPE, " postText(" + window + ", " + std::to_string(message) + ", " + std::to_string(code)
                                 + "): " + e.getMessage());
        delete object;
    }
}

void CStageCommand::postInt(const std::string& window, WPARAM code, int value)
{
    try {
        CLocalMethod::postWndMsg(window, WM_STAGE_CTRL_COMMAND, code, static_cast<LPARAM>(value));
    } catch (const CJException& e) {
        CTrace::trace(SCOPE, " postInt(" + std::to_string(code) + "): " + e.getMessage());
    }
}

std::string CStageCommand::takeText(LPARAM argument)
{
    std::unique_ptr<CJString> object(reinterpret_cast<CJString*>(argument));
    return object->toString();
}

bool CStageCommand::send(const std::string& window, WPARAM code, LPARAM argument)
{
    try {
        return CLocalMethod::invokeSync(window, WM_STAGE_CTRL_COMMAND, code, argument) != 0;
    } catch (const CJException& e) {
        CTrace::trace(SCOPE, " send(" + std::to_string(code) + "): " + e.getMessage());
        return false;
    }
}
