// Loading: what vm_Init refuses, what it accepts, the state it leaves, and compact expansion.

#include <cstdlib>
#include <cstring>
#include <functional>

#include "VmTestUtil.h"
#include "server/vm/vm_internal.h"

namespace velt {
namespace {

using test::Vm;

// A small image with every kind of static target, and where each one sits.
struct Base {
    std::vector<uint8_t> image;
    uint32_t sysreq = 0, sw = 0, jump = 0, casetbl = 0, jrel = 0, call = 0, fn = 0;
    VmFileHeader header() const { return VmFileHeader::Read(image.data()); }
    uint32_t codeAt(uint32_t code_addr) const { return uint32_t(header().cod) + code_addr; }
};

Base makeBase(bool compact = false, bool name_table = true) {
    Base b;
    VmImageBuilder ib;
    ib.GetOptions().compact = compact;
    ib.GetOptions().nameTable = name_table;
    ib.GetOptions().stackBytes = 1024;
    ib.Label("main");
    ib.Op(OP_PROC);
    ib.Op(OP_PUSH_C, 0);
    b.sysreq = ib.CodeHere();
    ib.Op(OP_SYSREQ_C, "nat");
    ib.Op(OP_STACK, 4);
    ib.Op(OP_CONST_PRI, 2);
    b.sw = ib.CodeHere();
    ib.Op(OP_SWITCH, "tbl");
    ib.Label("one");
    b.jump = ib.CodeHere();
    ib.Op(OP_JUMP, "after");
    ib.Label("tbl");
    b.casetbl = ib.CodeHere();
    ib.CaseTable("dflt");
    ib.AddCase(1, "one");
    ib.AddCase(2, "two");
    ib.Label("two");
    b.jrel = ib.CodeHere();
    ib.Op(OP_JREL, 0);
    ib.Label("dflt");
    b.call = ib.CodeHere();
    ib.Op(OP_CALL, "fn");
    ib.Label("after");
    ib.Op(OP_ZERO_PRI);
    ib.Op(OP_RETN);
    ib.Label("fn");
    b.fn = ib.CodeHere();
    ib.Op(OP_PROC);
    ib.Op(OP_RETN);
    ib.AddPublic("fn", "fn");
    ib.AddPublic("main", "main");
    ib.SetMain("main");
    ib.DataCell(0x12345678);
    b.image = test::build(ib);
    return b;
}

int loadBytes(const std::vector<uint8_t>& image) {
    VmInstance inst{};
    int err = vm_LoadImage(&inst, image.data(), image.size());
    if (err == VM_ERR_NONE) vm_FreeImage(&inst);
    return err;
}

void setHeader(std::vector<uint8_t>& img, const std::function<void(VmFileHeader&)>& edit) {
    VmFileHeader h = VmFileHeader::Read(img.data());
    edit(h);
    h.Write(img.data());
}

TEST(VmLoad, RefusesMalformedImages) {
    struct Case {
        const char* what;
        int expect;
        std::function<void(Base&)> mutate;
    };
    auto cell_at = [](Base& b, uint32_t code_addr, cell v) {
        VmImageBuilder::Patch32(b.image, b.codeAt(code_addr), ucell(v));
    };
    const Case cases[] = {
        {"file version 5", VM_ERR_VERSION,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.file_version = 5; }); }},
        {"vm version 9", VM_ERR_VERSION,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.vm_version = 9; }); }},
        {"bad magic", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.magic = 0xF1E1; }); }},
        {"defsize 16", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.defsize = 16; }); }},
        {"longest name 32", VM_ERR_FORMAT, [](Base& b) { b.image[size_t(b.header().nametable)] = 32; }},
        {"name table with file version 6", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.file_version = 6; }); }},
        {"stack_top zero", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.stack_top = 0; }); }},
        {"stack_top negative", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.stack_top = -4; }); }},
        {"no room for the sentinel", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.stack_top = h.hea; }); }},
        {"size beyond the file", VM_ERR_FORMAT, [](Base& b) { b.image.pop_back(); }},
        {"size differs from hea", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.hea -= 4; }); }},
        {"publics before the header end", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.publics = 48; }); }},
        {"tables out of order", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.natives = h.publics - 8; }); }},
        {"table not whole entries", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.natives -= 4; }); }},
        {"sections not cell-aligned", VM_ERR_FORMAT,
         [](Base& b) {
             // Two bytes more in the name area: every offset from the code on moves by two.
             b.image.insert(b.image.begin() + b.header().cod, 2, 0);
             setHeader(b.image, [](VmFileHeader& h) {
                 h.cod += 2;
                 h.dat += 2;
                 h.hea += 2;
                 h.stack_top += 2;
                 h.size += 2;
             });
         }},
        {"code not whole cells", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.dat -= 2; }); }},
        {"name offset outside the name table", VM_ERR_FORMAT,
         [](Base& b) {
             VmImageBuilder::Patch32(b.image, size_t(b.header().publics) + 4, uint32_t(b.header().cod));
         }},
        {"name longer than the declared longest", VM_ERR_FORMAT,
         [](Base& b) { b.image[size_t(b.header().nametable)] = 2; }},
        {"opcode 0", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.jump, 0); }},
        {"opcode 138", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.jump, 138); }},
        {"jump into an operand", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.jump + 4, cell(b.sw + 4)); }},
        {"jump into case table data", VM_ERR_FORMAT,
         [&](Base& b) { cell_at(b, b.jump + 4, cell(b.casetbl + 12)); }},
        {"jump past the code", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.jump + 4, 0x10000); }},
        {"call to a negative address", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.call + 4, -8); }},
        {"jrel into an operand", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.jrel + 4, 4); }},
        {"switch to a non-table", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.sw + 4, cell(b.jump)); }},
        {"case record into an operand", VM_ERR_FORMAT,
         [&](Base& b) { cell_at(b, b.casetbl + 16, cell(b.call + 4)); }},
        {"case default into an operand", VM_ERR_FORMAT,
         [&](Base& b) { cell_at(b, b.casetbl + 8, cell(b.call + 4)); }},
        {"case count that overflows", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.casetbl + 4, 0x7FFFFFFF); }},
        {"case count past the code", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.casetbl + 4, 40); }},
        {"native index past the table", VM_ERR_FORMAT, [&](Base& b) { cell_at(b, b.sysreq + 4, 1); }},
        {"symbol with a negative count", VM_ERR_FORMAT,
         [&](Base& b) {
             cell_at(b, b.jump, OP_SYMBOL);
             cell_at(b, b.jump + 4, -8);
         }},
        {"symbol count not whole cells", VM_ERR_FORMAT,
         [&](Base& b) {
             cell_at(b, b.jump, OP_SYMBOL);
             cell_at(b, b.jump + 4, 2);
         }},
        {"public inside an instruction", VM_ERR_FORMAT,
         [](Base& b) { VmImageBuilder::Patch32(b.image, size_t(b.header().publics) + 8, 16); }},
        {"main inside an instruction", VM_ERR_FORMAT,
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.main_entry = 16; }); }},
        {"last instruction's operand past the code", VM_ERR_FORMAT,
         [&](Base& b) { cell_at(b, b.fn + 4, OP_CONST_PRI); }},
        {"last instruction falls off the code", VM_ERR_FORMAT,
         [&](Base& b) { cell_at(b, b.fn + 4, OP_ADD); }},
    };
    for (const Case& c : cases) {
        Base b = makeBase();
        ASSERT_EQ(loadBytes(b.image), VM_ERR_NONE);
        c.mutate(b);
        EXPECT_EQ(loadBytes(b.image), c.expect) << c.what;
    }
}

TEST(VmLoad, RefusesMalformedCompactStreams) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> mutate;
    };
    const Case cases[] = {
        {"last byte continues", [](std::vector<uint8_t>& img) { img.back() |= 0x80; }},
        {"cell longer than 32 bits",
         [](std::vector<uint8_t>& img) { std::memset(img.data() + img.size() - 7, 0x81, 6); }},
        {"stream holds more cells than the sections",
         [](std::vector<uint8_t>& img) {
             setHeader(img, [](VmFileHeader& h) {
                 h.hea -= 4;
                 h.stack_top -= 4;
             });
         }},
        {"stream holds fewer cells than the sections",
         [](std::vector<uint8_t>& img) { setHeader(img, [](VmFileHeader& h) { h.hea += 4; }); }},
        {"sections not whole cells",
         [](std::vector<uint8_t>& img) {
             setHeader(img, [](VmFileHeader& h) {
                 h.hea += 2;
                 h.dat += 2;
             });
         }},
    };
    for (const Case& c : cases) {
        Base b = makeBase(true);
        ASSERT_EQ(loadBytes(b.image), VM_ERR_NONE);
        c.mutate(b.image);
        EXPECT_EQ(loadBytes(b.image), VM_ERR_FORMAT) << c.what;
    }
}

TEST(VmLoad, AcceptsBoundaryHeaders) {
    struct Case {
        const char* what;
        std::function<void(Base&)> mutate;
    };
    const Case cases[] = {
        {"file 8, vm 8", [](Base&) {}},
        {"file 6 with inline names",
         [](Base& b) {
             b = makeBase(false, false);
             setHeader(b.image, [](VmFileHeader& h) { h.file_version = 6; });
         }},
        {"vm version 0", [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.vm_version = 0; }); }},
        {"longest name 31", [](Base& b) { b.image[size_t(b.header().nametable)] = 31; }},
        {"other header flags carried",
         [](Base& b) { setHeader(b.image, [](VmFileHeader& h) { h.flags |= 0x02; }); }},
    };
    for (const Case& c : cases) {
        Base b = makeBase();
        c.mutate(b);
        EXPECT_EQ(loadBytes(b.image), VM_ERR_NONE) << c.what;
    }
}

TEST(VmLoad, InitLeavesEmptyHeapAndStackAndZeroedSentinel) {
    Base b = makeBase();
    const VmFileHeader h = b.header();
    // Host memory past the file is garbage; the script must not see it.
    uint8_t* block = static_cast<uint8_t*>(std::malloc(size_t(h.stack_top)));
    std::memset(block, 0xA5, size_t(h.stack_top));
    std::memcpy(block, b.image.data(), b.image.size());
    VmInstance inst{};
    ASSERT_EQ(vm_Init(&inst, block), VM_ERR_NONE);
    EXPECT_EQ(inst.heap, h.hea - h.dat);
    EXPECT_EQ(inst.heap_low, h.hea - h.dat);
    EXPECT_EQ(inst.stack, h.stack_top - h.dat - 4);
    EXPECT_EQ(inst.stack_top, h.stack_top - h.dat - 4);
    EXPECT_EQ(inst.native_dispatch, &vm_Callback);
    EXPECT_TRUE(inst.flags & VMF_RELOCATED);
    EXPECT_FALSE(inst.flags & VMF_NATIVES_READY);
    for (int32_t at = h.hea; at < h.stack_top; ++at) ASSERT_EQ(block[at], 0) << at;

    EXPECT_EQ(vm_Init(&inst, block), VM_ERR_INIT);  // a second init of the same instance
    vm_Teardown(&inst);
    std::free(block);
}

// Data whose compact form outgrows the plain form early on, so that expansion must hold cells
// back until the reader has passed their targets.
std::vector<uint8_t> holdingImage(bool compact) {
    VmImageBuilder b;
    b.GetOptions().compact = compact;
    b.GetOptions().stackBytes = 256;
    b.Label("main");
    b.Op(OP_CONST_PRI, -1);
    b.Op(OP_CONST_ALT, 0x40);  // 0x40 needs two bytes: the sign bit would be set in one
    b.Op(OP_RETN);
    b.SetMain("main");
    for (int i = 0; i < 60; ++i) b.DataCell(cell(0x9E3779B9u * ucell(i + 1)));  // 5 bytes each
    for (int i = 0; i < 200; ++i) b.DataCell(i % 3 - 1);                        // 1 byte each
    return test::build(b);
}

TEST(VmLoad, CompactImageLoadsToTheSameMemoryAsItsPlainTwin) {
    const std::vector<uint8_t> plain = holdingImage(false), compact = holdingImage(true);
    ASSERT_LT(compact.size(), plain.size());
    const VmFileHeader h = VmFileHeader::Read(compact.data());

    std::vector<uint8_t> probe(size_t(h.stack_top), 0);
    std::memcpy(probe.data(), compact.data(), compact.size());
    int held = 0;
    ASSERT_EQ(
        vm_internal::ExpandCompact(probe.data(), uint32_t(h.cod), uint32_t(h.size), uint32_t(h.hea), &held),
        VM_ERR_NONE);
    EXPECT_GT(held, 4) << "the image must exercise holding back";

    Vm a(plain), c(compact);
    ASSERT_EQ(a.err, VM_ERR_NONE);
    ASSERT_EQ(c.err, VM_ERR_NONE);
    // Everything but the header's size and flags is the same, byte for byte.
    ASSERT_EQ(VmFileHeader::Read(plain.data()).stack_top, h.stack_top);
    EXPECT_EQ(0, std::memcmp(a.inst.image + 12, c.inst.image + 12, size_t(h.stack_top) - 12));
    EXPECT_EQ(std::memcmp(a.inst.image + 4, c.inst.image + 4, 4), 0);
    EXPECT_EQ(a.inst.image[10], c.inst.image[10]);
}

TEST(VmLoad, CompactSignBitExpandsToAllUpperBits) {
    // One byte with bit 6 set is a negative cell; 0x40 itself needs a second byte.
    EXPECT_EQ(VmImageBuilder::EncodeCompact({-1}), std::vector<uint8_t>({0x7F}));
    EXPECT_EQ(VmImageBuilder::EncodeCompact({-64}), std::vector<uint8_t>({0x40}));
    EXPECT_EQ(VmImageBuilder::EncodeCompact({0x40}), std::vector<uint8_t>({0x80, 0x40}));
    EXPECT_EQ(VmImageBuilder::EncodeCompact({INT32_MIN}).size(), 5u);

    std::vector<uint8_t> img(64, 0);
    img[8] = 0x40;  // stream of one byte at 8, cells [8, 12)
    ASSERT_EQ(vm_internal::ExpandCompact(img.data(), 8, 9, 12, nullptr), VM_ERR_NONE);
    EXPECT_EQ(vm_internal::LoadBlockCell(img.data() + 8), -64);
}

TEST(VmLoad, NativeCellsOfTheFileStartUnbound) {
    Base b = makeBase();
    VmImageBuilder::Patch32(b.image, size_t(b.header().natives), 0xDEADBEEF);  // junk in the file
    Vm vm(b.image);
    EXPECT_EQ(vm.err, VM_ERR_NOTFOUND);  // still needs "nat"
    cell r;
    EXPECT_EQ(vm_Exec(&vm.inst, &r, VM_EXEC_MAIN), VM_ERR_NOTFOUND);
}

}  // namespace
}  // namespace velt
