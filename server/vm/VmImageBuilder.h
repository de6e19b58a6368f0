#pragma once
// Builds script images: the header, the sorted tables, the name table, code and data, plain or
// in the compact encoding. Used by the assembler (tools/vmasm), by tests that need images of
// their own, and by the fuzz target. Code address 0 holds HALT 0 unless told otherwise, since
// every run returns there.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "server/vm/vm.h"

namespace velt {

// An operand: a number, or a symbol (code label, data label or native name) plus an addend.
struct VmOperandRef {
    std::string symbol;
    cell value = 0;

    VmOperandRef() = default;
    VmOperandRef(cell v) : value(v) {}  // NOLINT: numbers convert implicitly
    VmOperandRef(const char* sym, cell addend = 0) : symbol(sym), value(addend) {}
    VmOperandRef(std::string sym, cell addend = 0) : symbol(std::move(sym)), value(addend) {}
};

class VmImageBuilder {
public:
    struct Options {
        uint8_t file_version = 8;
        uint8_t vm_version = 8;
        int16_t extra_flags = 0;      // header flag bits carried as they are
        bool compact = false;         // store code and data in the compact encoding
        bool name_table = true;       // defsize 8 with a name table; false: names inline (defsize 24)
        int32_t stack_bytes = 16384;  // heap and stack space after the data
        bool halt_at_zero = true;     // emit HALT 0 at code address 0
    };

    VmImageBuilder() = default;
    explicit VmImageBuilder(const Options& o) : opt_(o) {}
    Options& options() { return opt_; }

    // Code. Labels name the code-relative address of the next cell.
    uint32_t codeHere();
    void label(const std::string& name);
    void op(int opcode);
    void op(int opcode, const VmOperandRef& a);
    void op(int opcode, const VmOperandRef& a, const VmOperandRef& b);
    // CASETBL with its default target; records follow with addCase (nothing else in between).
    void caseTable(const VmOperandRef& default_target);
    void addCase(cell value, const VmOperandRef& target);
    // FILE / SYMBOL: a byte count and that many bytes, given as cells.
    void bytesOp(int opcode, const std::vector<cell>& cells);
    void codeCell(const VmOperandRef& v);  // any cell, unchecked (for malformed images)

    // Data. Labels name the data-relative address of the next cell.
    uint32_t dataHere() const { return uint32_t(data_.size() * 4); }
    void dataLabel(const std::string& name);
    void dataCell(const VmOperandRef& v);
    void dataString(const std::string& text, bool packed);
    void dataSpace(uint32_t cells);

    // Tables.
    void addPublic(const std::string& name, const VmOperandRef& target);
    int addNative(const std::string& name);  // index of the native (declared once)
    void addPubVar(const std::string& name, const VmOperandRef& address);
    void addTag(const std::string& name, cell id);
    void setMain(const VmOperandRef& target);

    // Lays out the image. False (with a message) on an unknown symbol, a name too long for the
    // chosen table form, or a compact stream that cannot be expanded in place.
    bool build(std::vector<uint8_t>& out, std::string* error = nullptr);

    // The compact encoding of cells (1 to 5 bytes each, most significant group first).
    static std::vector<uint8_t> encodeCompact(const std::vector<cell>& cells);

    // Helpers for malformed-image tests.
    static void patch32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
    static void patchHeader(std::vector<uint8_t>& image, void (*edit)(VmFileHeader&));

private:
    struct Fixup {
        bool in_code;
        size_t index;  // cell index
        VmOperandRef ref;
        bool native;  // resolve the symbol as a native name
    };
    struct Symbol {
        bool code;
        uint32_t address;
    };
    struct Entry {
        std::string name;
        VmOperandRef ref;
    };

    void startCode();
    void closeCaseTable() { open_case_ = -1; }
    void emitRef(const VmOperandRef& v, bool native);
    bool resolve(const VmOperandRef& ref, bool native, cell& out, std::string* error);

    Options opt_;
    bool started_ = false;
    std::vector<cell> code_;
    std::vector<cell> data_;
    std::vector<Fixup> fixups_;
    std::map<std::string, Symbol> symbols_;
    std::vector<Entry> publics_;
    std::vector<std::string> natives_;
    std::vector<Entry> pubvars_;
    std::vector<std::pair<std::string, cell>> tags_;
    bool has_main_ = false;
    VmOperandRef main_;
    long open_case_ = -1;  // cell index of the open case table's record count
    std::string pending_error_;
};

}  // namespace velt
