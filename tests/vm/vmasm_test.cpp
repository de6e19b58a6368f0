// The image builder and the text assembler: exact layout, round trips, and error reports.

#include <filesystem>

#include "VmTestUtil.h"
#include "tools/vmasm/VmAsm.h"

namespace velt {
namespace {

using test::Vm;

std::vector<uint8_t> assemble(const std::string& src) {
    std::vector<uint8_t> img;
    std::string err;
    EXPECT_TRUE(VmAssemble(src, img, &err)) << err;
    return img;
}

TEST(VmAsm, SmallImageMatchesTheHeaderLayoutByteForByte) {
    // Typed from the file layout: header, one public, one native, name table, code, data.
    const std::vector<uint8_t> expected = {
        112,  0,    0,   0,                         // size = hea
        0xE0, 0xF1,                                 // magic
        8,    8,                                    // file and machine versions
        0,    0,                                    // flags
        8,    0,                                    // defsize: names in the name table
        84,   0,    0,   0,                         // cod
        108,  0,    0,   0,                         // dat
        112,  0,    0,   0,                         // hea
        176,  0,    0,   0,                         // stack_top = hea + 64
        8,    0,    0,   0,                         // main
        56,   0,    0,   0,                         // publics
        64,   0,    0,   0,                         // natives
        72,   0,    0,   0,                         // libraries
        72,   0,    0,   0,                         // pubvars
        72,   0,    0,   0,                         // tags
        72,   0,    0,   0,                         // name table
        8,    0,    0,   0,   74, 0,   0, 0,        // public "main" at code 8
        0,    0,    0,   0,   79, 0,   0, 0,        // native "f", unbound
        4,    0,                                    // longest name
        'm',  'a',  'i', 'n', 0,  'f', 0, 0, 0, 0,  // to the next cell
        120,  0,    0,   0,   0,  0,   0, 0,        // halt 0
        11,   0,    0,   0,   7,  0,   0, 0,        // const.pri 7
        123,  0,    0,   0,   0,  0,   0, 0,        // sysreq.c f
        42,   0,    0,   0,                         // data
    };
    const std::string src =
        ".stack 64\n"
        ".public main\n"
        ".main main\n"
        ".data\n"
        "    .cell 42\n"
        ".code\n"
        "main: const.pri 7\n"
        "    sysreq.c f\n";
    std::vector<uint8_t> img = assemble(src);
    EXPECT_EQ(img, expected);
    Vm vm(img);
    EXPECT_EQ(vm.err, VM_ERR_NOTFOUND);  // loads; only the native is missing
}

// Images made in several forms, plus every assembled fixture.
std::vector<std::pair<std::string, std::vector<uint8_t>>> roundTripImages() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    for (int form = 0; form < 4; ++form) {
        VmImageBuilder b;
        b.GetOptions().compact = form & 1;
        b.GetOptions().nameTable = !(form & 2);
        if (form == 3) b.GetOptions().file_version = 6;
        b.GetOptions().extraFlags = 0x02;
        b.Label("main");
        b.Op(OP_CONST_PRI, -5);
        b.Op(OP_SWITCH, "tbl");
        b.Label("tbl");
        b.CaseTable("end");
        b.AddCase(-5, "a");
        b.AddCase(INT32_MIN, "end");
        b.Label("a");
        b.Op(OP_LINE, 1, 2);
        b.BytesOp(OP_SYMBOL, {0x41424344, 0});
        b.Op(OP_JREL, 0);
        b.Op(OP_SYSREQ_C, "print");
        b.Op(OP_CALL, "end");
        b.Label("end");
        b.Op(OP_RETN);
        b.SetMain("main");
        b.AddPublic("zeta", "a");
        b.AddPublic("alpha", "end");
        b.AddPubVar("v", 4);
        b.AddTag("Tag", 0x40000002);
        b.DataString("packed text", true);
        b.DataCell(-1);
        out.emplace_back("form " + std::to_string(form), test::build(b));
    }
    for (const auto& entry : std::filesystem::directory_iterator(VELT_VM_FIXTURE_DIR)) {
        if (entry.path().extension() != ".vmb") continue;
        out.emplace_back(entry.path().filename().string(),
                         test::readFixture(entry.path().filename().string()));
    }
    return out;
}

TEST(VmAsm, DisassemblyAssemblesBackToTheSameBytes) {
    auto images = roundTripImages();
    ASSERT_GT(images.size(), 6u);
    for (const auto& [name, img] : images) {
        std::string text, err;
        ASSERT_TRUE(VmDisassemble(img, text, &err)) << name << ": " << err;
        std::vector<uint8_t> again;
        ASSERT_TRUE(VmAssemble(text, again, &err)) << name << ": " << err << "\n" << text;
        EXPECT_EQ(again, img) << name << "\n" << text;
    }
}

TEST(VmAsm, ReportsErrorsWithTheirLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"nop\nfrob 1\n", "line 2: unknown instruction frob"},
        {"const.pri\n", "line 1: const.pri takes one operand"},
        {"add 1\n", "line 1: add takes no operand"},
        {"jump nowhere\n", "unknown symbol: nowhere"},
        {"a: nop\na: halt 0\n", "label defined twice: a"},
        {".string \"x\"\n", "line 1: .string belongs in .data"},
        {"case 1 x\n", "case record outside a case table"},
        {".data\nnop\n", "line 2: instruction in .data: nop"},
        {"const.pri 0x1FFFFFFFF\n", "line 1: bad number: 0x1FFFFFFFF"},
        {".data\n.string \"abc\n", "line 2: unterminated literal"},
        {".frob\n", "line 1: unknown directive .frob"},
    };
    for (auto [src, msg] : cases) {
        std::vector<uint8_t> img;
        std::string err;
        EXPECT_FALSE(VmAssemble(src, img, &err)) << src;
        EXPECT_EQ(err, msg) << src;
    }
}

TEST(VmAsm, OperandsLiteralsAndLabelOffsets) {
    std::vector<uint8_t> img = assemble(
        ".data\n"
        "pad: .cell 0\n"
        "arr: .cell 'A', 1.5, -0.25, 0xFFFFFFFF, arr+4\n"
        "     .packed \"ab\\x7F\"\n"
        ".code\n"
        ".main main\n"
        "main: load.pri arr+4 ; the float\n"
        "      halt 0 // done\n");
    Vm vm(img);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    cell* d = vm.addr(4);
    EXPECT_EQ(d[0], 'A');
    EXPECT_EQ(d[1], 0x3FC00000);
    EXPECT_EQ(d[2], cell(0xBE800000));
    EXPECT_EQ(d[3], -1);
    EXPECT_EQ(d[4], 8);
    EXPECT_EQ(d[5], 0x61627F00);
    cell r;
    EXPECT_EQ(vm_Exec(&vm.inst, &r, VM_EXEC_MAIN), VM_ERR_NONE);
    EXPECT_EQ(r, 0x3FC00000);
}

TEST(VmAsm, ReadmeExamplesRun) {
    Vm vm(
        assemble(".public Sum\n"
                 "Sum:\n"
                 "    proc\n"
                 "    zero.alt\n"
                 "top:\n"
                 "    load.s.pri 12\n"
                 "    jzer done\n"
                 "    add\n"
                 "    move.alt\n"
                 "    dec.s 12\n"
                 "    jump top\n"
                 "done:\n"
                 "    move.pri\n"
                 "    retn\n"));
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    cell r = 0;
    EXPECT_EQ(vm.call("Sum", {4}, &r), VM_ERR_NONE);
    EXPECT_EQ(r, 10);
}

}  // namespace
}  // namespace velt
