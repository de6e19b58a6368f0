#include "server/vm/VmImageBuilder.h"

#include <algorithm>

#include "server/vm/VmOpcodes.h"
#include "server/vm/vm_internal.h"

namespace velt {

using namespace vm_internal;

void VmImageBuilder::StartCode() {
    if (started_) return;
    started_ = true;
    if (opt_.haltAtZero) {
        code_.push_back(OP_HALT);
        code_.push_back(0);
    }
}

uint32_t VmImageBuilder::CodeHere() {
    StartCode();
    return uint32_t(code_.size() * 4);
}

void VmImageBuilder::Label(const std::string& name) {
    uint32_t at = CodeHere();
    if (!symbols_.emplace(name, Symbol{true, at}).second && pendingError_.empty())
        pendingError_ = "label defined twice: " + name;
}

void VmImageBuilder::DataLabel(const std::string& name) {
    if (!symbols_.emplace(name, Symbol{false, DataHere()}).second && pendingError_.empty())
        pendingError_ = "label defined twice: " + name;
}

void VmImageBuilder::EmitRef(const VmOperandRef& v, bool native) {
    if (!v.symbol.empty()) fixups_.push_back({true, code_.size(), v, native});
    code_.push_back(v.symbol.empty() ? v.value : 0);
}

void VmImageBuilder::Op(int opcode) {
    StartCode();
    CloseCaseTable();
    code_.push_back(opcode);
}

void VmImageBuilder::Op(int opcode, const VmOperandRef& a) {
    Op(opcode);
    bool native = opcode >= 0 && opcode < OP_NUM_OPCODES && OpcodeInfo(opcode).operand == VmOperand::Native;
    EmitRef(a, native);
}

void VmImageBuilder::Op(int opcode, const VmOperandRef& a, const VmOperandRef& b) {
    Op(opcode);
    EmitRef(a, false);
    EmitRef(b, false);
}

void VmImageBuilder::CaseTable(const VmOperandRef& defaultTarget) {
    Op(OP_CASETBL);
    openCase_ = long(code_.size());
    code_.push_back(0);
    EmitRef(defaultTarget, false);
}

void VmImageBuilder::AddCase(cell value, const VmOperandRef& target) {
    if (openCase_ < 0) {
        if (pendingError_.empty()) pendingError_ = "case record outside a case table";
        return;
    }
    code_[size_t(openCase_)] += 1;
    code_.push_back(value);
    EmitRef(target, false);
}

void VmImageBuilder::BytesOp(int opcode, const std::vector<cell>& cells) {
    Op(opcode);
    code_.push_back(cell(cells.size() * 4));
    code_.insert(code_.end(), cells.begin(), cells.end());
}

void VmImageBuilder::CodeCell(const VmOperandRef& v) {
    StartCode();
    CloseCaseTable();
    EmitRef(v, false);
}

void VmImageBuilder::DataCell(const VmOperandRef& v) {
    if (!v.symbol.empty()) fixups_.push_back({false, data_.size(), v, false});
    data_.push_back(v.symbol.empty() ? v.value : 0);
}

void VmImageBuilder::DataString(const std::string& text, bool packed) {
    if (packed) {
        for (size_t k = 0; k <= text.size() / 4; ++k) {
            ucell c = 0;
            for (size_t b = 0; b < 4; ++b) {
                size_t i = k * 4 + b;
                if (i < text.size()) c |= ucell(uint8_t(text[i])) << (24 - 8 * b);
            }
            data_.push_back(cell(c));
        }
    } else {
        for (unsigned char ch : text) data_.push_back(ch);
        data_.push_back(0);
    }
}

void VmImageBuilder::DataSpace(uint32_t cells) { data_.insert(data_.end(), cells, 0); }

void VmImageBuilder::AddPublic(const std::string& name, const VmOperandRef& target) {
    publics_.push_back({name, target});
}

int VmImageBuilder::AddNative(const std::string& name) {
    auto it = std::find(natives_.begin(), natives_.end(), name);
    if (it != natives_.end()) return int(it - natives_.begin());
    natives_.push_back(name);
    return int(natives_.size() - 1);
}

void VmImageBuilder::AddPubVar(const std::string& name, const VmOperandRef& address) {
    pubvars_.push_back({name, address});
}

void VmImageBuilder::AddTag(const std::string& name, cell id) { tags_.emplace_back(name, id); }

void VmImageBuilder::SetMain(const VmOperandRef& target) {
    hasMain_ = true;
    main_ = target;
}

bool VmImageBuilder::Resolve(const VmOperandRef& ref, bool native, cell& out, std::string* error) {
    if (ref.symbol.empty()) {
        out = ref.value;
        return true;
    }
    auto it = symbols_.find(ref.symbol);
    if (it != symbols_.end()) {
        out = cell(ucell(it->second.address) + ucell(ref.value));
        return true;
    }
    if (native) {
        out = cell(ucell(AddNative(ref.symbol)) + ucell(ref.value));
        return true;
    }
    if (error) *error = "unknown symbol: " + ref.symbol;
    return false;
}

std::vector<uint8_t> VmImageBuilder::EncodeCompact(const std::vector<cell>& cells) {
    std::vector<uint8_t> out;
    for (cell v : cells) {
        int n = 1;
        // Fewest 7-bit groups whose top bit still carries the sign.
        while (n < 5) {
            int64_t lim = int64_t(1) << (7 * n - 1);
            if (v >= -lim && v < lim) break;
            ++n;
        }
        for (int i = n - 1; i >= 0; --i) {
            uint8_t b = uint8_t((int64_t(v) >> (7 * i)) & 0x7F);
            if (i > 0) b |= 0x80;
            out.push_back(b);
        }
    }
    return out;
}

void VmImageBuilder::Patch32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    if (offset + 4 <= image.size()) WriteU32(image.data() + offset, value);
}

void VmImageBuilder::PatchHeader(std::vector<uint8_t>& image, void (*edit)(VmFileHeader&)) {
    if (image.size() < size_t(VM_HEADER_SIZE)) return;
    VmFileHeader h = VmFileHeader::Read(image.data());
    edit(h);
    h.Write(image.data());
}

bool VmImageBuilder::Build(std::vector<uint8_t>& out, std::string* error) {
    StartCode();
    CloseCaseTable();
    if (!pendingError_.empty()) {
        if (error) *error = pendingError_;
        return false;
    }
    // Resolve operands first: a sysreq.c naming an undeclared native declares it.
    std::vector<cell> code = code_, data = data_;
    for (const Fixup& f : fixups_) {
        cell v;
        if (!Resolve(f.ref, f.native, v, error)) return false;
        (f.inCode ? code : data)[f.index] = v;
    }
    struct Row {
        std::string name;
        ucell address;
    };
    auto rows = [&](const std::vector<Entry>& in, std::vector<Row>& rowsOut) {
        for (const Entry& e : in) {
            cell v;
            if (!Resolve(e.ref, false, v, error)) return false;
            rowsOut.push_back({e.name, ucell(v)});
        }
        std::stable_sort(rowsOut.begin(), rowsOut.end(),
                         [](const Row& a, const Row& b) { return a.name < b.name; });
        return true;
    };
    std::vector<Row> pubs, nats, vars, tags;
    if (!rows(publics_, pubs) || !rows(pubvars_, vars)) return false;
    for (const std::string& n : natives_) nats.push_back({n, 0});
    for (const auto& t : tags_) tags.push_back({t.first, ucell(t.second)});
    std::stable_sort(tags.begin(), tags.end(),
                     [](const Row& a, const Row& b) { return a.address < b.address; });
    cell mainEntry = -1;
    if (hasMain_ && !Resolve(main_, false, mainEntry, error)) return false;

    const int defsize = opt_.nameTable ? VM_DEFSIZE_NAMETABLE : VM_DEFSIZE_INLINE;
    size_t longest = 0;
    for (const auto* group : {&pubs, &nats, &vars, &tags})
        for (const Row& r : *group) longest = std::max(longest, r.name.size());
    if (opt_.nameTable && longest > size_t(VM_MAX_NAME_LENGTH)) {
        if (error) *error = "name longer than 31 characters";
        return false;
    }
    if (!opt_.nameTable && longest > 19) {
        if (error) *error = "name longer than 19 characters (inline names)";
        return false;
    }

    VmFileHeader h;
    h.magic = VM_MAGIC;
    h.file_version = opt_.file_version;
    h.vm_version = opt_.vm_version;
    h.flags = int16_t(opt_.extraFlags | (opt_.compact ? VMF_COMPACT : 0));
    h.defsize = int16_t(defsize);
    h.publics = VM_HEADER_SIZE;
    h.natives = h.publics + int32_t(pubs.size()) * defsize;
    h.libraries = h.natives + int32_t(nats.size()) * defsize;
    h.pubvars = h.libraries;
    h.tags = h.pubvars + int32_t(vars.size()) * defsize;
    h.nametable = h.tags + int32_t(tags.size()) * defsize;
    int32_t namesSize = 0;
    if (opt_.nameTable) {
        namesSize = 2;
        for (const auto* group : {&pubs, &nats, &vars, &tags})
            for (const Row& r : *group) namesSize += int32_t(r.name.size()) + 1;
    }
    h.cod = (h.nametable + namesSize + 3) & ~3;
    h.dat = h.cod + int32_t(code.size()) * 4;
    h.hea = h.dat + int32_t(data.size()) * 4;
    h.stack_top = h.hea + ((opt_.stackBytes + 3) & ~3);
    h.main_entry = mainEntry;

    std::vector<cell> cells = code;
    cells.insert(cells.end(), data.begin(), data.end());
    std::vector<uint8_t> stream;
    if (opt_.compact) {
        stream = EncodeCompact(cells);
        h.size = h.cod + int32_t(stream.size());
    } else {
        h.size = h.hea;
    }

    out.assign(size_t(h.size), 0);
    h.Write(out.data());
    size_t nameAt = size_t(h.nametable) + 2;
    auto putRows = [&](const std::vector<Row>& rs, int32_t at) {
        for (const Row& r : rs) {
            uint8_t* e = out.data() + at;
            WriteU32(e, r.address);
            if (opt_.nameTable) {
                WriteU32(e + 4, uint32_t(nameAt));
                std::copy(r.name.begin(), r.name.end(), out.begin() + long(nameAt));
                nameAt += r.name.size() + 1;
            } else {
                std::copy(r.name.begin(), r.name.end(), e + 4);
            }
            at += defsize;
        }
    };
    putRows(pubs, h.publics);
    putRows(nats, h.natives);
    putRows(vars, h.pubvars);
    putRows(tags, h.tags);
    if (opt_.nameTable) WriteU16(out.data() + h.nametable, uint16_t(longest));

    if (opt_.compact) {
        std::copy(stream.begin(), stream.end(), out.begin() + h.cod);
        // The loader expands in place with a bounded hold-back; refuse what it would refuse.
        std::vector<uint8_t> probe(out);
        probe.resize(std::max<size_t>(probe.size(), size_t(h.hea)));
        if (ExpandCompact(probe.data(), uint32_t(h.cod), uint32_t(h.size), uint32_t(h.hea), nullptr)) {
            if (error) *error = "compact stream cannot be expanded in place";
            return false;
        }
    } else {
        for (size_t i = 0; i < cells.size(); ++i) WriteU32(out.data() + h.cod + i * 4, ucell(cells[i]));
    }
    return true;
}

}  // namespace velt
