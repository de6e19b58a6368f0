#include "tools/vmasm/VmAsm.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "server/vm/VmImageBuilder.h"
#include "server/vm/VmOpcodes.h"
#include "server/vm/vm.h"
#include "server/vm/vm_internal.h"

namespace velt {

namespace {

// ---------------------------------------------------------------------------------------------
// Lexing: words, numbers, quoted strings and character literals, separated by blanks or commas.

struct Token {
    enum Kind { Word, String } kind;
    std::string text;
};

bool Unescape(const std::string& in, size_t& i, char quote, std::string& out, std::string& err) {
    // in[i] is the opening quote
    ++i;
    while (i < in.size() && in[i] != quote) {
        char c = in[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= in.size()) break;
        char e = in[i++];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '0': out += '\0'; break;
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case '\'': out += '\''; break;
            case 'x': {
                int v = 0, n = 0;
                while (n < 2 && i < in.size() && std::isxdigit(static_cast<unsigned char>(in[i]))) {
                    v = v * 16 + (std::isdigit(static_cast<unsigned char>(in[i]))
                                      ? in[i] - '0'
                                      : (std::tolower(in[i]) - 'a' + 10));
                    ++i;
                    ++n;
                }
                if (n == 0) {
                    err = "bad \\x escape";
                    return false;
                }
                out += char(v);
                break;
            }
            default: err = std::string("unknown escape \\") + e; return false;
        }
    }
    if (i >= in.size()) {
        err = "unterminated literal";
        return false;
    }
    ++i;  // closing quote
    return true;
}

bool Tokenize(const std::string& line, std::vector<Token>& out, std::string& err) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ';' || (c == '/' && i + 1 < line.size() && line[i + 1] == '/')) break;
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            ++i;
            continue;
        }
        if (c == '"') {
            std::string s;
            if (!Unescape(line, i, '"', s, err)) return false;
            out.push_back({Token::String, s});
            continue;
        }
        if (c == '\'') {
            std::string s;
            if (!Unescape(line, i, '\'', s, err)) return false;
            if (s.size() != 1) {
                err = "character literal must hold one character";
                return false;
            }
            out.push_back({Token::Word, std::to_string(int(static_cast<unsigned char>(s[0])))});
            continue;
        }
        size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j])) && line[j] != ',' &&
               line[j] != ';' && line[j] != '"')
            ++j;
        out.push_back({Token::Word, line.substr(i, j - i)});
        i = j;
    }
    return true;
}

bool ParseInt(const std::string& s, int64_t& v) {
    if (s.empty()) return false;
    const char* p = s.c_str();
    char* end = nullptr;
    bool neg = false;
    if (*p == '-' || *p == '+') {
        neg = *p == '-';
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    unsigned long long u = std::strtoull(hex ? p + 2 : p, &end, hex ? 16 : 10);
    if (hex && end == p + 2) return false;
    if (*end != '\0') return false;
    if (u > 0xFFFFFFFFull) return false;
    v = neg ? -int64_t(u) : int64_t(u);
    return v >= INT32_MIN && v <= int64_t(UINT32_MAX);
}

bool IsSymbolStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@'; }

// A number (integer, or a float written with '.' or an exponent), or symbol[+-N].
bool ParseOperand(const std::string& s, VmOperandRef& out, std::string& err) {
    int64_t v;
    if (ParseInt(s, v)) {
        out = VmOperandRef(cell(ucell(uint64_t(v))));
        return true;
    }
    if (!s.empty() && (std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '-' || s[0] == '+')) {
        if (s.find_first_of("xX") != std::string::npos) {
            err = "bad number: " + s;
            return false;
        }
        char* end = nullptr;
        float f = std::strtof(s.c_str(), &end);
        if (*end == '\0' || (end[0] == 'f' && end[1] == '\0')) {
            out = VmOperandRef(FloatToCell(f));
            return true;
        }
        err = "bad number: " + s;
        return false;
    }
    if (s.empty() || !IsSymbolStart(s[0])) {
        err = "bad operand: " + s;
        return false;
    }
    size_t k = s.find_first_of("+-", 1);
    if (k == std::string::npos) {
        out = VmOperandRef(s);
        return true;
    }
    int64_t add;
    if (!ParseInt(s.substr(k), add)) {
        err = "bad offset in operand: " + s;
        return false;
    }
    out = VmOperandRef(s.substr(0, k), cell(ucell(uint64_t(add))));
    return true;
}

}  // namespace

bool VmAssemble(const std::string& source, std::vector<uint8_t>& image, std::string* error) {
    VmImageBuilder b;
    bool inData = false;
    std::istringstream in(source);
    std::string line;
    int lineno = 0;
    auto fail = [&](const std::string& msg) {
        if (error) *error = "line " + std::to_string(lineno) + ": " + msg;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineno;
        std::vector<Token> toks;
        std::string err;
        if (!Tokenize(line, toks, err)) return fail(err);
        size_t t = 0;
        // Leading labels.
        while (t < toks.size() && toks[t].kind == Token::Word && toks[t].text.size() > 1 &&
               toks[t].text.back() == ':') {
            std::string name = toks[t].text.substr(0, toks[t].text.size() - 1);
            if (!IsSymbolStart(name[0])) return fail("bad label name: " + name);
            if (inData)
                b.DataLabel(name);
            else
                b.Label(name);
            ++t;
        }
        if (t >= toks.size()) continue;
        if (toks[t].kind != Token::Word) return fail("expected an instruction or directive");
        const std::string word = toks[t].text;
        std::vector<Token> args(toks.begin() + long(t) + 1, toks.end());
        auto argcIs = [&](size_t lo, size_t hi) { return args.size() >= lo && args.size() <= hi; };
        auto operand = [&](size_t i, VmOperandRef& ref) {
            if (args[i].kind != Token::Word) {
                err = "expected an operand, not a string";
                return false;
            }
            return ParseOperand(args[i].text, ref, err);
        };
        auto number = [&](size_t i, int64_t& v) {
            if (args[i].kind != Token::Word || !ParseInt(args[i].text, v)) {
                err = "expected a number";
                return false;
            }
            return true;
        };

        if (word[0] == '.') {
            int64_t v;
            VmOperandRef ref;
            if (word == ".code")
                inData = false;
            else if (word == ".data")
                inData = true;
            else if (word == ".file_version" || word == ".vm_version" || word == ".flags" ||
                     word == ".stack") {
                if (!argcIs(1, 1) || !number(0, v)) return fail(word + " needs one number");
                if (word == ".file_version")
                    b.GetOptions().file_version = uint8_t(v);
                else if (word == ".vm_version")
                    b.GetOptions().vm_version = uint8_t(v);
                else if (word == ".flags")
                    b.GetOptions().extraFlags = int16_t(v);
                else
                    b.GetOptions().stackBytes = int32_t(v);
            } else if (word == ".compact")
                b.GetOptions().compact = true;
            else if (word == ".inline_names")
                b.GetOptions().nameTable = false;
            else if (word == ".nohalt")
                b.GetOptions().haltAtZero = false;
            else if (word == ".main") {
                if (!argcIs(1, 1) || !operand(0, ref)) return fail(".main needs a target");
                b.SetMain(ref);
            } else if (word == ".public") {
                if (!argcIs(1, 2) || args[0].kind != Token::Word) return fail(".public needs a name");
                if (args.size() == 2) {
                    if (!operand(1, ref)) return fail(err);
                } else {
                    ref = VmOperandRef(args[0].text);
                }
                b.AddPublic(args[0].text, ref);
            } else if (word == ".native") {
                if (!argcIs(1, 1) || args[0].kind != Token::Word) return fail(".native needs a name");
                b.AddNative(args[0].text);
            } else if (word == ".pubvar") {
                if (!argcIs(2, 2) || args[0].kind != Token::Word || !operand(1, ref))
                    return fail(".pubvar needs a name and an address");
                b.AddPubVar(args[0].text, ref);
            } else if (word == ".tag") {
                if (!argcIs(2, 2) || args[0].kind != Token::Word || !number(1, v))
                    return fail(".tag needs a name and an id");
                b.AddTag(args[0].text, cell(ucell(uint64_t(v))));
            } else if (word == ".cell") {
                if (args.empty()) return fail(".cell needs values");
                for (size_t i = 0; i < args.size(); ++i) {
                    if (!operand(i, ref)) return fail(err);
                    if (inData)
                        b.DataCell(ref);
                    else
                        b.CodeCell(ref);
                }
            } else if (word == ".string" || word == ".packed") {
                if (!inData) return fail(word + " belongs in .data");
                if (!argcIs(1, 1) || args[0].kind != Token::String)
                    return fail(word + " needs a quoted string");
                b.DataString(args[0].text, word == ".packed");
            } else if (word == ".space") {
                if (!inData) return fail(".space belongs in .data");
                if (!argcIs(1, 1) || !number(0, v) || v < 0 || v > (1 << 24))
                    return fail(".space needs a cell count");
                b.DataSpace(uint32_t(v));
            } else {
                return fail("unknown directive " + word);
            }
            continue;
        }

        if (inData) return fail("instruction in .data: " + word);
        if (word == "case") {
            VmOperandRef value, target;
            if (!argcIs(2, 2) || !operand(0, value) || !operand(1, target))
                return fail("case needs a value and a target");
            if (!value.symbol.empty()) return fail("case value must be a number");
            b.AddCase(value.value, target);
            continue;
        }
        int op = OpcodeByName(word.c_str());
        if (op < 0) return fail("unknown instruction " + word);
        VmOperandRef a, c;
        switch (OpcodeInfo(op).operand) {
            case VmOperand::None:
                if (!args.empty()) return fail(word + " takes no operand");
                b.Op(op);
                break;
            case VmOperand::Value:
            case VmOperand::Code:
            case VmOperand::Rel:
            case VmOperand::Native:
                if (!argcIs(1, 1) || !operand(0, a))
                    return fail(err.empty() ? word + " takes one operand" : err);
                b.Op(op, a);
                break;
            case VmOperand::Two:
                if (!argcIs(2, 2) || !operand(0, a) || !operand(1, c))
                    return fail(err.empty() ? word + " takes two operands" : err);
                b.Op(op, a, c);
                break;
            case VmOperand::Bytes: {
                std::vector<cell> cells;
                for (size_t i = 0; i < args.size(); ++i) {
                    if (!operand(i, a) || !a.symbol.empty()) return fail(word + " takes numbers");
                    cells.push_back(a.value);
                }
                b.BytesOp(op, cells);
                break;
            }
            case VmOperand::CaseTbl:
                if (!argcIs(1, 1) || !operand(0, a)) return fail("casetbl takes its default target");
                b.CaseTable(a);
                break;
        }
    }
    lineno = 0;
    std::string err;
    if (!b.Build(image, &err)) {
        if (error) *error = err;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Disassembly.

namespace {

std::string HexLabel(uint32_t addr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "c_%04x", addr);
    return buf;
}

}  // namespace

bool VmDisassemble(const std::vector<uint8_t>& file, std::string& text, std::string* error) {
    using namespace vm_internal;
    auto fail = [&](const std::string& msg) {
        if (error) *error = msg;
        return false;
    };
    if (file.size() < size_t(VM_HEADER_SIZE)) return fail("shorter than a header");
    const VmFileHeader h = VmFileHeader::Read(file.data());
    if (h.magic != VM_MAGIC) return fail("bad magic");
    if (h.defsize != VM_DEFSIZE_NAMETABLE && h.defsize != VM_DEFSIZE_INLINE) return fail("bad entry size");
    if (h.size < VM_HEADER_SIZE || size_t(h.size) > file.size()) return fail("size field beyond the file");
    if (!(VM_HEADER_SIZE <= h.publics && h.publics <= h.natives && h.natives <= h.libraries &&
          h.libraries <= h.pubvars && h.pubvars <= h.tags && h.tags <= h.cod && h.cod <= h.dat &&
          h.dat <= h.hea && h.hea <= h.stack_top && h.cod <= h.size))
        return fail("sections out of order");
    if ((h.dat - h.cod) % 4 || (h.hea - h.dat) % 4) return fail("sections not whole cells");

    std::vector<uint8_t> img(file.begin(), file.begin() + h.size);
    img.resize(std::max<size_t>(img.size(), size_t(h.hea)), 0);
    if (h.flags & VMF_COMPACT) {
        if (ExpandCompact(img.data(), uint32_t(h.cod), uint32_t(h.size), uint32_t(h.hea), nullptr))
            return fail("compact stream does not expand");
    } else if (h.size != h.hea) {
        return fail("size differs from the end of the data");
    }

    auto nameOf = [&](int32_t at, std::string& out) {
        const uint8_t* e = img.data() + at;
        size_t from, limit;
        if (h.defsize == VM_DEFSIZE_NAMETABLE) {
            from = ReadU32(e + 4);
            limit = size_t(h.cod);
        } else {
            from = size_t(at) + 4;
            limit = size_t(at) + size_t(h.defsize);
        }
        if (from >= limit) return false;
        const void* nul = std::memchr(img.data() + from, 0, limit - from);
        if (!nul) return false;
        out.assign(reinterpret_cast<const char*>(img.data() + from));
        return true;
    };
    struct Row {
        std::string name;
        ucell value;
    };
    auto readTable = [&](int32_t from, int32_t to, std::vector<Row>& rows) {
        for (int32_t at = from; at + h.defsize <= to; at += h.defsize) {
            Row r;
            if (!nameOf(at, r.name)) return false;
            r.value = ReadU32(img.data() + at);
            rows.push_back(r);
        }
        return true;
    };
    std::vector<Row> pubs, nats, vars, tags;
    const int32_t tagsEnd = h.file_version >= 7 ? h.nametable : h.cod;
    if (!readTable(h.publics, h.natives, pubs) || !readTable(h.natives, h.libraries, nats) ||
        !readTable(h.pubvars, h.tags, vars) || !readTable(h.tags, tagsEnd, tags))
        return fail("unreadable name in a table");

    // Walk the code: instruction starts, and the targets that deserve labels.
    const uint8_t* code = img.data() + h.cod;
    const uint32_t codeSize = uint32_t(h.dat - h.cod);
    struct Insn {
        uint32_t at;
        int op;  // -1: raw cells to the end
    };
    std::vector<Insn> insns;
    std::set<uint32_t> starts;
    uint32_t pc = 0;
    while (pc < codeSize) {
        cell op = LoadBlockCell(code + pc);
        uint64_t len = 0;
        if (op >= 0 && op < OP_NUM_OPCODES) {
            switch (OpcodeInfo(op).operand) {
                case VmOperand::None: len = 4; break;
                case VmOperand::Two: len = 12; break;
                case VmOperand::Bytes:
                    if (pc + 8 <= codeSize) {
                        cell n = LoadBlockCell(code + pc + 4);
                        if (n >= 0 && n % 4 == 0) len = 8 + uint64_t(n);
                    }
                    break;
                case VmOperand::CaseTbl:
                    if (pc + 12 <= codeSize) len = 12 + 8 * uint64_t(ucell(LoadBlockCell(code + pc + 4)));
                    break;
                default: len = 8; break;
            }
        }
        if (len == 0 || pc + len > codeSize) {
            insns.push_back({pc, -1});
            break;
        }
        insns.push_back({pc, op});
        starts.insert(pc);
        pc += uint32_t(len);
    }
    std::set<uint32_t> labels;
    auto want = [&](ucell target) {
        if (starts.count(target)) labels.insert(target);
    };
    for (const Insn& in : insns) {
        if (in.op < 0) continue;
        VmOperand kind = OpcodeInfo(in.op).operand;
        if (kind == VmOperand::Code) want(ucell(LoadBlockCell(code + in.at + 4)));
        if (kind == VmOperand::CaseTbl) {
            ucell n = ucell(LoadBlockCell(code + in.at + 4));
            want(ucell(LoadBlockCell(code + in.at + 8)));
            for (ucell i = 0; i < n; ++i) want(ucell(LoadBlockCell(code + in.at + 16 + 8 * i)));
        }
    }
    for (const Row& r : pubs) want(r.value);
    if (h.main_entry >= 0) want(ucell(h.main_entry));
    auto target = [&](ucell t) { return labels.count(t) ? HexLabel(t) : std::to_string(cell(t)); };

    std::ostringstream o;
    o << "; disassembled image\n";
    o << ".file_version " << int(h.file_version) << "\n";
    o << ".vm_version " << int(h.vm_version) << "\n";
    if (int16_t extra = int16_t(h.flags & ~VMF_COMPACT)) o << ".flags " << extra << "\n";
    if (h.flags & VMF_COMPACT) o << ".compact\n";
    if (h.defsize == VM_DEFSIZE_INLINE) o << ".inline_names\n";
    o << ".stack " << (h.stack_top - h.hea) << "\n";
    o << ".nohalt\n";
    if (h.pubvars != h.libraries) o << "; note: the library table is not reproduced\n";
    for (const Row& r : nats) o << ".native " << r.name << "\n";
    for (const Row& r : pubs) o << ".public " << r.name << " " << target(r.value) << "\n";
    for (const Row& r : vars) o << ".pubvar " << r.name << " " << cell(r.value) << "\n";
    for (const Row& r : tags) o << ".tag " << r.name << " " << cell(r.value) << "\n";
    if (h.main_entry >= 0) o << ".main " << target(ucell(h.main_entry)) << "\n";

    o << "\n.code\n";
    for (const Insn& in : insns) {
        if (in.op < 0) {
            for (uint32_t at = in.at; at < codeSize; at += 4)
                o << "    .cell " << LoadBlockCell(code + at) << "\n";
            break;
        }
        if (labels.count(in.at)) o << HexLabel(in.at) << ":\n";
        const char* name = OpcodeInfo(in.op).name;
        const uint8_t* p = code + in.at;
        o << "    " << name;
        switch (OpcodeInfo(in.op).operand) {
            case VmOperand::None: break;
            case VmOperand::Value:
            case VmOperand::Rel: o << " " << LoadBlockCell(p + 4); break;
            case VmOperand::Code: o << " " << target(ucell(LoadBlockCell(p + 4))); break;
            case VmOperand::Native: {
                cell n = LoadBlockCell(p + 4);
                // A native name resolves to its index only while no label shares it.
                if (n >= 0 && size_t(n) < nats.size())
                    o << " " << nats[size_t(n)].name;
                else
                    o << " " << n;
                break;
            }
            case VmOperand::Two: o << " " << LoadBlockCell(p + 4) << ", " << LoadBlockCell(p + 8); break;
            case VmOperand::Bytes: {
                cell n = LoadBlockCell(p + 4);
                for (cell i = 0; i < n / 4; ++i) o << (i ? ", " : " ") << LoadBlockCell(p + 8 + 4 * i);
                break;
            }
            case VmOperand::CaseTbl: {
                ucell n = ucell(LoadBlockCell(p + 4));
                o << " " << target(ucell(LoadBlockCell(p + 8)));
                for (ucell i = 0; i < n; ++i)
                    o << "\n    case " << LoadBlockCell(p + 12 + 8 * i) << " "
                      << target(ucell(LoadBlockCell(p + 16 + 8 * i)));
                break;
            }
        }
        o << "\n";
    }
    o << "\n.data\n";
    const uint8_t* data = img.data() + h.dat;
    const uint32_t dataCells = uint32_t(h.hea - h.dat) / 4;
    for (uint32_t i = 0; i < dataCells; i += 8) {
        o << "    .cell";
        for (uint32_t k = i; k < dataCells && k < i + 8; ++k)
            o << (k == i ? " " : ", ") << LoadBlockCell(data + 4 * k);
        o << "\n";
    }
    text = o.str();
    return true;
}

}  // namespace velt
