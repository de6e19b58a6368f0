#pragma once
// Text form of script images: one instruction per line, assembled through VmImageBuilder, and
// the disassembler whose output assembles back to the same bytes. Syntax: tools/vmasm/README.md.

#include <cstdint>
#include <string>
#include <vector>

namespace velt {

// Assembles `source`. False with "line N: message" in *error on failure.
bool VmAssemble(const std::string& source, std::vector<uint8_t>& image, std::string* error);

// Disassembles an image (plain or compact). False with a message when the header or tables
// cannot be read; code that does not decode is written as raw cells.
bool VmDisassemble(const std::vector<uint8_t>& image, std::string& text, std::string* error);

}  // namespace velt
