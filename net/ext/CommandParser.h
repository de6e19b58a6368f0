#pragma once
// The base of the remote text console's command parsers: a sorted table of commands.

#include <cstdint>
#include <vector>

namespace velt {

// A parser's command names and help texts are not copied: they are string literals.
struct CommandEntry {
    const char* name;
    const char* helpText;
    uint8_t parameterCount;
};

// Any number of words.
inline constexpr uint8_t VARIABLE_PARAMETER_COUNT = 255;

class CommandParserInterface {
public:
    virtual ~CommandParserInterface() = default;
    virtual const char* GetParserName() const = 0;

    // Case-insensitive; false when the parser has no such command.
    bool FindCommand(const char* name, CommandEntry* out) const;
    uint32_t GetCommandCount() const { return static_cast<uint32_t>(commands_.size()); }

protected:
    // Kept sorted by name, case-insensitively; a second command of the same name is ignored.
    void AddCommand(uint8_t parameterCount, const char* name, const char* helpText);

private:
    std::vector<CommandEntry> commands_;
};

}  // namespace velt
