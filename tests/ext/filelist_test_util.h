#pragma once
// A temporary directory tree for the file list tests: made fresh per test, removed with it.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velt::filetest {

class TempTree {
public:
    TempTree() {
        char pattern[] = "/tmp/velt_filelist_XXXXXX";
        if (mkdtemp(pattern) != nullptr) root_ = pattern;
    }
    ~TempTree() {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    void Write(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path path = Path(relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    void MakeDirectory(const std::string& relative) const {
        std::filesystem::create_directories(Path(relative));
    }
    bool Exists(const std::string& relative) const {
        std::error_code ignored;
        return std::filesystem::exists(std::filesystem::symlink_status(Path(relative), ignored));
    }

private:
    std::string root_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace velt::filetest
