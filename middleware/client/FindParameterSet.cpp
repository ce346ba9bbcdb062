#include "FindParameterSet.h"

FindParameterSet::FindParameterSet(const std::vector<std::string>& terminalIds) : terminalIds(terminalIds) {}
