#pragma once
// Wildcard search of one directory, one entry per call, through small integer handles (the
// calling code keeps handles in plain integers).
//
// A search yields the regular files whose names match the pattern and every subdirectory, matching
// or not, so that a caller can walk a tree with a file pattern. "." and ".." are never yielded,
// and neither is anything else that is not a regular file or a directory as it stands: a symbolic
// link is not followed, whatever it points to. Sizes are the files' sizes in bytes.
//
// Handles stay valid until their own search is closed, whatever happens to other searches; a
// closed handle's number may be handed out again. Safe to call from several threads; one search
// is meant to be read by one thread.

#include <cstdint>

namespace velt {

struct FindData {
    static constexpr uint32_t kNameBytes = 260;
    char name[kNameBytes];  // zero-terminated
    uint32_t attrib;        // kFindAttribFile or kFindAttribDirectory
    uint32_t size;          // bytes of a regular file (saturated at 2^32 - 1); 0 for a directory
};

inline constexpr uint32_t kFindAttribFile = 0;
inline constexpr uint32_t kFindAttribDirectory = 16;

// pattern: a directory, "/" and a name pattern with the wildcards of fnmatch; without a "/" the
// directory is ".". Fills data with the first entry and returns the search's handle, or -1 when
// the directory cannot be opened or yields nothing (no search stays open then).
int32_t DirFindFirst(const char* pattern, FindData* data);
// The next entry into data: 0, or -1 at the end of the directory or for a handle not open.
int32_t DirFindNext(int32_t handle, FindData* data);
// Ends a search: 0, or -1 with the line "Error _findclose" on standard output for a handle not open.
int32_t _findclose(int32_t handle);

}  // namespace velt
