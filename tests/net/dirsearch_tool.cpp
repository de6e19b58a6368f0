// Lists what the directory search yields for each pattern on the command line, for the Python
// check: "pattern" lines, then one "name<TAB>attrib<TAB>size" line per entry, or "none" when the
// first call gives -1.

#include <cstdio>

#include "net/DirectorySearch.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::printf("pattern\t%s\n", argv[i]);
        velt::FindData data;
        const int32_t handle = velt::DirFindFirst(argv[i], &data);
        if (handle < 0) {
            std::printf("none\n");
            continue;
        }
        do std::printf("%s\t%u\t%u\n", data.name, data.attrib, data.size);
        while (velt::DirFindNext(handle, &data) == 0);
        if (velt::_findclose(handle) != 0) return 1;
    }
    return 0;
}
