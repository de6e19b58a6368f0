// vmasm: assembles .vasm text into a script image, or (with -d) disassembles an image.
//   vmasm [-o out.vmb] in.vasm
//   vmasm -d [-o out.vasm] in.vmb

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/vmasm/VmAsm.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: vmasm [-o out.vmb] in.vasm\n       vmasm -d [-o out.vasm] in.vmb\n");
    return 2;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

// Written beside the target and renamed over it, so a failed run never leaves half a file.
bool WriteFile(const std::string& path, const void* data, size_t size) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f.write(static_cast<const char*>(data), std::streamsize(size));
        if (!f) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool disassemble = false;
    std::string in, out;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-d") == 0)
            disassemble = true;
        else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            out = argv[++i];
        else if (argv[i][0] == '-')
            return Usage();
        else if (in.empty())
            in = argv[i];
        else
            return Usage();
    }
    if (in.empty()) return Usage();
    std::string content;
    if (!ReadFile(in, content)) {
        std::fprintf(stderr, "vmasm: cannot read %s\n", in.c_str());
        return 1;
    }
    std::string error;
    if (disassemble) {
        std::string text;
        std::vector<uint8_t> image(content.begin(), content.end());
        if (!velt::VmDisassemble(image, text, &error)) {
            std::fprintf(stderr, "vmasm: %s: %s\n", in.c_str(), error.c_str());
            return 1;
        }
        if (out.empty()) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        }
        if (!WriteFile(out, text.data(), text.size())) {
            std::fprintf(stderr, "vmasm: cannot write %s\n", out.c_str());
            return 1;
        }
        return 0;
    }
    std::vector<uint8_t> image;
    if (!velt::VmAssemble(content, image, &error)) {
        std::fprintf(stderr, "vmasm: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (out.empty()) {
        out = in;
        size_t dot = out.rfind('.');
        size_t slash = out.rfind('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) out.resize(dot);
        out += ".vmb";
    }
    if (!WriteFile(out, image.data(), image.size())) {
        std::fprintf(stderr, "vmasm: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
