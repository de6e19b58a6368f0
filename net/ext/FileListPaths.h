#pragma once
// Path texts and small file-system steps shared by the file list and the transfers built on it.
// Names in a file list are relative, "/"-separated; they are joined below a directory one way
// everywhere, and a name that comes from elsewhere is checked before it is joined.

#include <cstdint>
#include <string>

namespace velt {

// Longest joined path the file list works with; longer ones are refused.
inline constexpr size_t kMaxJoinedPathBytes = 4095;

bool IsPathSeparator(char c);

// An empty text stays empty; a final "\" becomes "/"; otherwise "/" is appended unless the text
// already ends in one.
void EnsureTrailingSlash(std::string& text);

// Encloses a text that contains a space in double quotes; any other text is left alone.
void QuoteIfHasSpace(std::string& text);

// directory + "/" + name, the separator only where directory lacks one; an empty or null
// directory is the working directory ("."). False when the result would pass kMaxJoinedPathBytes.
bool JoinPath(const char* directory, const char* name, std::string& out);

// A name that stays below whatever directory it is joined to: not empty, not absolute, no "\"
// (a separator elsewhere, an ordinary character here: either way a way around the checks), and no
// ".." among its "/"-separated parts.
bool IsSafeRelativeName(const char* name);

// Creates every directory on the way to path (mode 0744, existing ones are fine). With data (even
// of length 0) writes the file, replacing any file there but never writing through a symbolic
// link; without data creates path itself as a directory. False for an empty path or when the file
// cannot be written whole.
bool WriteFileCreatingDirs(const char* path, const uint8_t* data, uint32_t length);

// Whether directory names an existing directory.
bool DirectoryExists(const char* directory);

}  // namespace velt
