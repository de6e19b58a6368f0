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
        int16_t extraFlags = 0;      // header flag bits carried as they are
        bool compact = false;        // store code and data in the compact encoding
        bool nameTable = true;       // defsize 8 with a name table; false: names inline (defsize 24)
        int32_t stackBytes = 16384;  // heap and stack space after the data
        bool haltAtZero = true;      // emit HALT 0 at code address 0
    };

    VmImageBuilder() = default;
    explicit VmImageBuilder(const Options& o) : opt_(o) {}
    Options& GetOptions() { return opt_; }

    // Code. Labels name the code-relative address of the next cell.
    uint32_t CodeHere();
    void Label(const std::string& name);
    void Op(int opcode);
    void Op(int opcode, const VmOperandRef& a);
    void Op(int opcode, const VmOperandRef& a, const VmOperandRef& b);
    // CASETBL with its default target; records follow with AddCase (nothing else in between).
    void CaseTable(const VmOperandRef& defaultTarget);
    void AddCase(cell value, const VmOperandRef& target);
    // FILE / SYMBOL: a byte count and that many bytes, given as cells.
    void BytesOp(int opcode, const std::vector<cell>& cells);
    void CodeCell(const VmOperandRef& v);  // any cell, unchecked (for malformed images)

    // Data. Labels name the data-relative address of the next cell.
    uint32_t DataHere() const { return uint32_t(data_.size() * 4); }
    void DataLabel(const std::string& name);
    void DataCell(const VmOperandRef& v);
    void DataString(const std::string& text, bool packed);
    void DataSpace(uint32_t cells);

    // Tables.
    void AddPublic(const std::string& name, const VmOperandRef& target);
    int AddNative(const std::string& name);  // index of the native (declared once)
    void AddPubVar(const std::string& name, const VmOperandRef& address);
    void AddTag(const std::string& name, cell id);
    void SetMain(const VmOperandRef& target);

    // Lays out the image. False (with a message) on an unknown symbol, a name too long for the
    // chosen table form, or a compact stream that cannot be expanded in place.
    bool Build(std::vector<uint8_t>& out, std::string* error = nullptr);

    // The compact encoding of cells (1 to 5 bytes each, most significant group first).
    static std::vector<uint8_t> EncodeCompact(const std::vector<cell>& cells);

    // Helpers for malformed-image tests.
    static void Patch32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
    static void PatchHeader(std::vector<uint8_t>& image, void (*edit)(VmFileHeader&));

private:
    struct Fixup {
        bool inCode;
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

    void StartCode();
    void CloseCaseTable() { openCase_ = -1; }
    void EmitRef(const VmOperandRef& v, bool native);
    bool Resolve(const VmOperandRef& ref, bool native, cell& out, std::string* error);

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
    bool hasMain_ = false;
    VmOperandRef main_;
    long openCase_ = -1;  // cell index of the open case table's record count
    std::string pendingError_;
};

}  // namespace velt
