#pragma once

// Named values that scripts share: per player (PlayerVarTable) and for the whole server
// (ServerVarTable, server/natives/ServerVarNatives.h). Names compare case-insensitively: every
// name is upper-cased (ASCII) before it is stored or looked up. A row holds one value of its
// current type; a read of another type gives the empty answer (0, 0.0 or null).

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

namespace velt {

enum PlayerVarType : int32_t {
    PLAYER_VARTYPE_NONE = 0,
    PLAYER_VARTYPE_INT = 1,
    PLAYER_VARTYPE_STRING = 2,
    PLAYER_VARTYPE_FLOAT = 3,
};

struct PlayerVarEntry {
    static constexpr size_t kMaxName = 40;
    char name[kMaxName + 1] = {};
    int32_t readOnly = 0;
    int32_t type = PLAYER_VARTYPE_NONE;
    int32_t intValue = 0;
    float floatValue = 0.0f;
    // Owned copy, null when none. Kept until overwritten or deleted, even after the row
    // changes type.
    std::unique_ptr<char[]> stringValue;
};

template <int32_t Rows>
class NamedVarTable {
public:
    static constexpr int32_t kRows = Rows;

    // The used row with that name, or -1.
    int32_t Find(std::string_view name) const;
    // A new row for name (type none, writable), or -1 when the table is full or the name has
    // more than 40 characters. Does not look for an existing row of that name.
    int32_t Add(std::string_view name);

    // Each creates the row when needed (0 when that fails). With readOnly the row becomes
    // read-only; without it a read-only row refuses (0). Returns 1 when stored.
    int32_t SetInt(std::string_view name, int32_t value, bool readOnly);
    int32_t SetString(std::string_view name, std::string_view text, bool readOnly);
    int32_t SetFloat(std::string_view name, float value, bool readOnly);

    int32_t GetInt(std::string_view name) const;
    // Null unless the row holds a string; the text stays valid until the row is changed.
    const char* GetString(std::string_view name) const;
    float GetFloat(std::string_view name) const;
    // PLAYER_VARTYPE_NONE when there is no such row.
    int32_t GetType(std::string_view name) const;

    // 0 when missing; else clears the row (read-only or not), frees it and returns 1.
    int32_t Delete(std::string_view name);

    // The row for 0..kRows - 1 when it is used, else null.
    const PlayerVarEntry* GetAt(int32_t row) const;
    // Highest used row + 1; 0 when empty. Lookups scan the rows below it.
    int32_t UpperIndex() const { return upperIndex_; }

private:
    // Upper-cased name into out (kMaxName + 1 bytes); false when longer than kMaxName. A NUL
    // ends the name, as it would for the script's text.
    static bool Normalise(std::string_view name, char* out);
    int32_t FindNormalised(const char* name) const;
    // Row to store into, or -1 (refused or no room).
    int32_t RowForSet(std::string_view name, bool readOnly);
    void RecomputeUpperIndex();

    std::array<PlayerVarEntry, kRows> rows_{};
    std::array<int32_t, kRows> used_{};
    int32_t upperIndex_ = 0;
};

using PlayerVarTable = NamedVarTable<800>;
using ServerVarTable = NamedVarTable<2000>;
extern template class NamedVarTable<800>;
extern template class NamedVarTable<2000>;

// A player's variables. Most players never set one, and the full table is some 60 KB, so it is
// made by the first set that stores something; until then every read gives the empty answer.
class PlayerVars {
public:
    int32_t SetInt(std::string_view name, int32_t value, bool readOnly);
    int32_t SetString(std::string_view name, std::string_view text, bool readOnly);
    int32_t SetFloat(std::string_view name, float value, bool readOnly);

    int32_t Find(std::string_view name) const { return table_ ? table_->Find(name) : -1; }
    int32_t GetInt(std::string_view name) const { return table_ ? table_->GetInt(name) : 0; }
    const char* GetString(std::string_view name) const { return table_ ? table_->GetString(name) : nullptr; }
    float GetFloat(std::string_view name) const { return table_ ? table_->GetFloat(name) : 0.0f; }
    int32_t GetType(std::string_view name) const {
        return table_ ? table_->GetType(name) : PLAYER_VARTYPE_NONE;
    }
    int32_t Delete(std::string_view name) { return table_ ? table_->Delete(name) : 0; }
    const PlayerVarEntry* GetAt(int32_t row) const { return table_ ? table_->GetAt(row) : nullptr; }
    int32_t UpperIndex() const { return table_ ? table_->UpperIndex() : 0; }

    // Forgets every variable and frees the table.
    void Release() { table_.reset(); }
    bool HoldsTable() const { return table_ != nullptr; }

private:
    // Runs set on the table, made first when there is none; a set refused on a table it had
    // to make (a name too long) frees it again.
    template <class Set>
    int32_t SetMaking(Set set);

    std::unique_ptr<PlayerVarTable> table_;
};

}  // namespace velt
