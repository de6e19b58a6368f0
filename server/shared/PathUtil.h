#pragma once

// Path and file helpers usable from every program (no logging or console dependency).

#include <cstddef>
#include <memory>

namespace velt {

// A newly allocated, zero-terminated text owned by the caller; null on a null argument.
using OwnedText = std::unique_ptr<char[]>;

// The first n characters of text (all of a shorter one); never reads past n characters.
OwnedText br_strndup(const char* text, std::size_t n);

// Everything before the last '/', without the slashes that end it: "/" when nothing is left,
// "." for a path with no '/'.
OwnedText br_extract_dir(const char* path);

// The path itself without a '/'; else the text before the last '/', and, when that still holds
// a '/', the text before its own last '/'. "/" whenever the result would be empty.
OwnedText br_extract_prefix(const char* path);

// a followed by b; a null argument counts as an empty text.
OwnedText br_concat(const char* a, const char* b);

// True when path names a regular file that can be opened for reading. Directories, FIFOs and
// devices do not count: a caller checks before loading a file, and a FIFO would block the load.
bool FileExists(const char* path);

}  // namespace velt
