#include "server/game/PlayerVariables.h"

#include <cstring>

#include "server/shared/StringUtil.h"

namespace velt {

template <int32_t Rows>
bool NamedVarTable<Rows>::Normalise(std::string_view name, char* out) {
    const size_t nul = name.find('\0');
    if (nul != std::string_view::npos) name = name.substr(0, nul);
    if (name.size() > PlayerVarEntry::kMaxName) return false;
    for (size_t i = 0; i < name.size(); ++i) out[i] = ToUpperAscii(name[i]);
    out[name.size()] = '\0';
    return true;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::FindNormalised(const char* name) const {
    for (int32_t i = 0; i < upperIndex_; ++i)
        if (used_[i] && std::strcmp(rows_[i].name, name) == 0) return i;
    return -1;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::Find(std::string_view name) const {
    char key[PlayerVarEntry::kMaxName + 1];
    if (!Normalise(name, key)) return -1;
    return FindNormalised(key);
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::Add(std::string_view name) {
    char key[PlayerVarEntry::kMaxName + 1];
    if (!Normalise(name, key)) return -1;
    for (int32_t i = 0; i < kRows; ++i) {
        if (used_[i]) continue;
        PlayerVarEntry& e = rows_[i];
        std::memcpy(e.name, key, sizeof(key));
        e.readOnly = 0;
        e.type = PLAYER_VARTYPE_NONE;
        used_[i] = 1;
        RecomputeUpperIndex();
        return i;
    }
    return -1;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::RowForSet(std::string_view name, bool readOnly) {
    int32_t row = Find(name);
    if (row < 0) row = Add(name);
    if (row < 0) return -1;
    PlayerVarEntry& e = rows_[row];
    if (readOnly)
        e.readOnly = 1;
    else if (e.readOnly)
        return -1;
    return row;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::SetInt(std::string_view name, int32_t value, bool readOnly) {
    const int32_t row = RowForSet(name, readOnly);
    if (row < 0) return 0;
    rows_[row].type = PLAYER_VARTYPE_INT;
    rows_[row].intValue = value;
    return 1;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::SetString(std::string_view name, std::string_view text, bool readOnly) {
    const int32_t row = RowForSet(name, readOnly);
    if (row < 0) return 0;
    // Scripts read the value back as a terminated text, so it ends at the first NUL.
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    auto copy = std::make_unique<char[]>(text.size() + 1);
    if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    rows_[row].stringValue = std::move(copy);
    rows_[row].type = PLAYER_VARTYPE_STRING;
    return 1;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::SetFloat(std::string_view name, float value, bool readOnly) {
    const int32_t row = RowForSet(name, readOnly);
    if (row < 0) return 0;
    rows_[row].type = PLAYER_VARTYPE_FLOAT;
    rows_[row].floatValue = value;
    return 1;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::GetInt(std::string_view name) const {
    const int32_t row = Find(name);
    return row >= 0 && rows_[row].type == PLAYER_VARTYPE_INT ? rows_[row].intValue : 0;
}

template <int32_t Rows>
const char* NamedVarTable<Rows>::GetString(std::string_view name) const {
    const int32_t row = Find(name);
    return row >= 0 && rows_[row].type == PLAYER_VARTYPE_STRING ? rows_[row].stringValue.get() : nullptr;
}

template <int32_t Rows>
float NamedVarTable<Rows>::GetFloat(std::string_view name) const {
    const int32_t row = Find(name);
    return row >= 0 && rows_[row].type == PLAYER_VARTYPE_FLOAT ? rows_[row].floatValue : 0.0f;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::GetType(std::string_view name) const {
    const int32_t row = Find(name);
    return row >= 0 ? rows_[row].type : PLAYER_VARTYPE_NONE;
}

template <int32_t Rows>
int32_t NamedVarTable<Rows>::Delete(std::string_view name) {
    const int32_t row = Find(name);
    if (row < 0) return 0;
    rows_[row] = PlayerVarEntry{};
    used_[row] = 0;
    RecomputeUpperIndex();
    return 1;
}

template <int32_t Rows>
const PlayerVarEntry* NamedVarTable<Rows>::GetAt(int32_t row) const {
    if (row < 0 || row >= kRows || !used_[row]) return nullptr;
    return &rows_[row];
}

template <int32_t Rows>
void NamedVarTable<Rows>::RecomputeUpperIndex() {
    int32_t upper = 0;
    for (int32_t i = kRows; i > 0; --i) {
        if (used_[i - 1]) {
            upper = i;
            break;
        }
    }
    upperIndex_ = upper;
}

template class NamedVarTable<800>;
template class NamedVarTable<2000>;

template <class Set>
int32_t PlayerVars::SetMaking(Set set) {
    const bool made = !table_;
    if (made) table_ = std::make_unique<PlayerVarTable>();
    const int32_t stored = set(*table_);
    if (!stored && made) table_.reset();
    return stored;
}

int32_t PlayerVars::SetInt(std::string_view name, int32_t value, bool readOnly) {
    return SetMaking([&](PlayerVarTable& t) { return t.SetInt(name, value, readOnly); });
}

int32_t PlayerVars::SetString(std::string_view name, std::string_view text, bool readOnly) {
    return SetMaking([&](PlayerVarTable& t) { return t.SetString(name, text, readOnly); });
}

int32_t PlayerVars::SetFloat(std::string_view name, float value, bool readOnly) {
    return SetMaking([&](PlayerVarTable& t) { return t.SetFloat(name, value, readOnly); });
}

}  // namespace velt
