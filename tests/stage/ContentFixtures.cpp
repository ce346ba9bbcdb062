#include "ContentFixtures.h"

#include <windows.h>

namespace {

long long sizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool startsWith(const std::string& text, const std::string& piece)
{
    return text.compare(0, piece.size(), piece) == 0;
}

} // namespace

std::string ContentSessionTest::install(StageTerminal& terminal, const std::string& path, int width, int height)
{
    std::string attribute = std::to_string(sizeOf(path)) + " *" + path + " *" + terminal.prefs->getNickname();
    std::string desc = CStage::makeElementDesc("10 20", CStage::SIZE_FIELD, CStage::MOTION_FIELD,
                                               std::to_string(terminal.stage->getReferNum()), attribute, path, width,
                                               height);
    terminal.post("LOC_install", desc);
    return desc;
}

bool ContentSessionTest::waitForDisplay(StageTerminal& terminal, const std::string& key)
{
    return waitUntil([&] { return terminal.view.entity(key) != nullptr; });
}

std::vector<std::string> ContentSessionTest::displayLines(StageTerminal& terminal, const std::string& key)
{
    return displayLines(terminal, key, "");
}

std::vector<std::string> ContentSessionTest::displayLines(StageTerminal& terminal, const std::string& key,
                                                          const std::string& operation)
{
    std::vector<std::string> lines;
    std::string name = terminal.view.displayName(key);
    if (name.empty())
        return lines;
    for (const std::string& entry : terminal.view.display.entries())
        if (startsWith(entry, name + " ") && startsWith(entry.substr(name.size() + 1), operation))
            lines.push_back(entry.substr(name.size() + 1));
    return lines;
}

std::vector<std::string> ContentSessionTest::chatLines(StageTerminal& terminal, const std::string& operation)
{
    std::vector<std::string> lines;
    for (const std::string& entry : terminal.view.chat.entries())
        if (startsWith(entry, operation))
            lines.push_back(entry);
    return lines;
}

CContent* ContentSessionTest::contentOn(StageTerminal& terminal, const std::string& key)
{
    return dynamic_cast<CContent*>(terminal.view.entity(key));
}

std::vector<std::string> ContentSessionTest::contentTrafficTo(StageTerminal& terminal, const std::string& key)
{
    std::vector<std::string> methods;
    CContent* content = contentOn(terminal, key);
    if (content == nullptr)
        return methods;
    const std::string to = ">" + terminal.id() + " " + content->getElementId() + " ";
    for (const std::string& line : session.hub.traffic()) {
        size_t at = line.find(to);
        if (at != std::string::npos)
            methods.push_back(line.substr(at + to.size()));
    }
    return methods;
}
