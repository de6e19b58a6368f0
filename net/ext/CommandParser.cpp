#include "net/ext/CommandParser.h"

#include <strings.h>

#include <algorithm>

namespace velt {

namespace {

bool NameLess(const CommandEntry& entry, const char* name) { return strcasecmp(entry.name, name) < 0; }

}  // namespace

bool CommandParserInterface::FindCommand(const char* name, CommandEntry* out) const {
    if (name == nullptr) return false;
    auto it = std::lower_bound(commands_.begin(), commands_.end(), name, NameLess);
    if (it == commands_.end() || strcasecmp(it->name, name) != 0) return false;
    if (out != nullptr) *out = *it;
    return true;
}

void CommandParserInterface::AddCommand(uint8_t parameterCount, const char* name, const char* helpText) {
    if (name == nullptr) return;
    auto it = std::lower_bound(commands_.begin(), commands_.end(), name, NameLess);
    if (it != commands_.end() && strcasecmp(it->name, name) == 0) return;
    commands_.insert(it, CommandEntry{name, helpText, parameterCount});
}

}  // namespace velt
