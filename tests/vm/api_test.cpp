// The embedding interface: lookups, native binding, arguments and strings, script memory,
// user data, UTF-8 and clones.

#include <cstring>
#include <cwchar>

#include "VmTestUtil.h"

namespace velt {
namespace {

using test::Vm;

cell retOne(VmInstance*, const cell*) { return 1; }

std::vector<uint8_t> tablesImage(bool name_table, bool compact) {
    VmImageBuilder b;
    b.GetOptions().nameTable = name_table;
    b.GetOptions().compact = compact;
    b.Label("f");
    b.Op(OP_CONST_PRI, 1);
    b.Op(OP_HALT, 0);
    for (const char* p : {"OnE", "OnA", "OnC", "OnB"}) b.AddPublic(p, "f");  // sorted by the builder
    for (const char* n : {"n0", "n1", "n2"}) b.AddNative(n);
    b.DataLabel("va");
    b.DataCell(1);
    b.DataLabel("vc");
    b.DataCell(2);
    b.AddPubVar("vc", "vc");
    b.AddPubVar("va", "va");
    b.AddTag("Float", 9);
    b.AddTag("bool", 1);
    b.AddTag("File", 5);
    return test::build(b);
}

TEST(VmApi, LookupsFindFirstLastMiddleAndReportAbsentNames) {
    for (bool name_table : {true, false}) {
        for (bool compact : {false, true}) {
            SCOPED_TRACE(testing::Message() << "name table " << name_table << ", compact " << compact);
            Vm vm(tablesImage(name_table, compact));
            ASSERT_EQ(vm.err, VM_ERR_NOTFOUND);  // natives not given yet
            VmInstance* in = &vm.inst;
            int n = 0, idx = -1, len = 0;
            char name[40];
            EXPECT_EQ(vm_NameLength(in, &len), VM_ERR_NONE);
            EXPECT_EQ(len, name_table ? 5 : 20);
            EXPECT_EQ(vm_CountPublics(in, &n), VM_ERR_NONE);
            EXPECT_EQ(n, 4);
            const std::pair<const char*, int> found[] = {{"OnA", 0}, {"OnB", 1}, {"OnC", 2}, {"OnE", 3}};
            for (auto [p, i] : found) {
                EXPECT_EQ(vm_LookupPublic(in, p, &idx), VM_ERR_NONE) << p;
                EXPECT_EQ(idx, i) << p;
                EXPECT_EQ(vm_GetPublic(in, i, name), VM_ERR_NONE);
                EXPECT_STREQ(name, p);
            }
            for (const char* absent : {"OnD", "Aaa", "Zzz", "", "OnA2"}) {
                EXPECT_EQ(vm_LookupPublic(in, absent, &idx), VM_ERR_NOTFOUND) << absent;
                EXPECT_EQ(idx, 0x7FFFFFFF) << absent;
            }
            EXPECT_EQ(vm_GetPublic(in, 4, name), VM_ERR_INDEX);
            EXPECT_EQ(vm_GetPublic(in, -1, name), VM_ERR_INDEX);

            EXPECT_EQ(vm_NumNatives(in, &n), VM_ERR_NONE);
            EXPECT_EQ(n, 3);
            EXPECT_EQ(vm_LookupNative(in, "n2", &idx), VM_ERR_NONE);
            EXPECT_EQ(idx, 2);
            EXPECT_EQ(vm_LookupNative(in, "n3", &idx), VM_ERR_NOTFOUND);
            EXPECT_EQ(idx, 0x7FFFFFFF);
            EXPECT_EQ(vm_GetNative(in, 1, name), VM_ERR_NONE);
            EXPECT_STREQ(name, "n1");

            cell addr = -1;
            EXPECT_EQ(vm_NumPubVars(in, &n), VM_ERR_NONE);
            EXPECT_EQ(n, 2);
            EXPECT_EQ(vm_LookupPubVar(in, "vc", &addr), VM_ERR_NONE);
            EXPECT_EQ(addr, 4);
            EXPECT_EQ(vm_LookupPubVar(in, "vb", &addr), VM_ERR_NOTFOUND);
            EXPECT_EQ(addr, 0);
            EXPECT_EQ(vm_GetPubVar(in, 0, name, &addr), VM_ERR_NONE);
            EXPECT_STREQ(name, "va");
            EXPECT_EQ(addr, 0);

            cell id = 0;
            EXPECT_EQ(vm_NumTags(in, &n), VM_ERR_NONE);
            EXPECT_EQ(n, 3);
            EXPECT_EQ(vm_GetTag(in, 2, name, &id), VM_ERR_NONE);
            EXPECT_STREQ(name, "Float");
            EXPECT_EQ(id, 9);
            EXPECT_EQ(vm_FindTagId(in, 5, name), VM_ERR_NONE);
            EXPECT_STREQ(name, "File");
            EXPECT_EQ(vm_FindTagId(in, 6, name), VM_ERR_NOTFOUND);
            EXPECT_STREQ(name, "");
        }
    }
}

TEST(VmApi, TagLookupRefusesATableThatDoesNotAscend) {
    VmImageBuilder b;
    b.Label("f");
    b.Op(OP_HALT, 0);
    b.AddTag("a", 1);
    b.AddTag("b", 2);
    std::vector<uint8_t> img = test::build(b);
    const VmFileHeader h = VmFileHeader::Read(img.data());
    VmImageBuilder::Patch32(img, size_t(h.tags) + 8, 1);  // second id equal to the first
    Vm vm(img);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    char name[40];
    EXPECT_EQ(vm_FindTagId(&vm.inst, 1, name), VM_ERR_NOTFOUND);
}

TEST(VmApi, RegisterAccumulatesAcrossListsAndHonoursCounts) {
    Vm vm(tablesImage(true, false));
    VmInstance* in = &vm.inst;
    const VmNativeEntry first[] = {{"n0", retOne}, {"n2", retOne}, {nullptr, nullptr}, {"n1", retOne}};
    EXPECT_EQ(vm_Register(in, first, -1), VM_ERR_NOTFOUND);  // the null name ends the list
    EXPECT_FALSE(in->flags & VMF_NATIVES_READY);
    const VmNativeEntry second[] = {{"x", retOne}, {"n1", retOne}};
    EXPECT_EQ(vm_Register(in, second, 1), VM_ERR_NOTFOUND);  // count 1 stops before n1
    EXPECT_EQ(vm_Register(in, nullptr, -1), VM_ERR_NOTFOUND);
    EXPECT_EQ(vm_Register(in, vm_MakeNativeEntry("n1", retOne), 1), VM_ERR_NONE);
    EXPECT_TRUE(in->flags & VMF_NATIVES_READY);
    EXPECT_EQ(vm_Register(in, nullptr, -1), VM_ERR_NONE);  // nothing left to bind
}

cell writeBack(VmInstance* inst, const cell* params) {
    // writeBack(dst, size): writes "velt" unpacked into dst, checked over its whole size first.
    cell* dst;
    if (vm_GetAddrRange(inst, params[1], int64_t(params[2]) * 4, &dst) != VM_ERR_NONE) {
        vm_RaiseError(inst, VM_ERR_NATIVE);
        return 0;
    }
    vm_SetString(dst, "velt", 0, 0, size_t(params[2]));
    return 1;
}

TEST(VmApi, ArgumentsGoInAndStringsAndArraysComeBack) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 1024;
    b.Label("sum");  // sum(arr, n)
    b.Op(OP_PROC);
    b.Op(OP_ZERO_PRI);
    b.Op(OP_PUSH_PRI);  // total at [frm-4]
    b.Label("loop");
    b.Op(OP_LOAD_S_PRI, 16);
    b.Op(OP_JZER, "done");
    b.Op(OP_DEC_S, 16);
    b.Op(OP_LOAD_S_PRI, 16);
    b.Op(OP_LOAD_S_ALT, 12);
    b.Op(OP_LIDX);
    b.Op(OP_LOAD_S_ALT, -4);
    b.Op(OP_ADD);
    b.Op(OP_STOR_S_PRI, -4);
    b.Op(OP_JUMP, "loop");
    b.Label("done");
    b.Op(OP_LOAD_S_PRI, -4);
    b.Op(OP_STACK, 4);
    b.Op(OP_RETN);
    b.Label("first");  // first(str): its first cell
    b.Op(OP_PROC);
    b.Op(OP_LREF_S_PRI, 12);
    b.Op(OP_RETN);
    b.Label("fill");  // fill(dst, size): writeBack(dst, size)
    b.Op(OP_PROC);
    b.Op(OP_PUSH_S, 16);
    b.Op(OP_PUSH_S, 12);
    b.Op(OP_PUSH_C, 8);
    b.Op(OP_SYSREQ_C, "writeBack");
    b.Op(OP_STACK, 12);
    b.Op(OP_RETN);
    b.AddPublic("sum", "sum");
    b.AddPublic("first", "first");
    b.AddPublic("fill", "fill");
    VmNativeEntry natives[] = {{"writeBack", writeBack}, {nullptr, nullptr}};
    Vm vm(test::build(b), natives);
    ASSERT_EQ(vm.err, VM_ERR_NONE);
    VmInstance* in = &vm.inst;
    const cell heap0 = in->heap;

    const cell arr[] = {5, 7, -2, 100};
    cell addr, *host, r = 0;
    ASSERT_EQ(vm_PushCell(in, 4), VM_ERR_NONE);
    ASSERT_EQ(vm_PushArray(in, &addr, &host, arr, 4), VM_ERR_NONE);
    EXPECT_EQ(addr, heap0);
    EXPECT_EQ(vm_Exec(in, &r, vm.publicIndex("sum")), VM_ERR_NONE);
    EXPECT_EQ(r, 110);
    vm_Unallot(in, addr);

    // "abc" packed is one cell; unpacked four.
    ASSERT_EQ(vm_PushString(in, &addr, &host, "abc", 1, 0), VM_ERR_NONE);
    EXPECT_EQ(in->heap - heap0, 4);
    EXPECT_EQ(host[0], 0x61626300);
    EXPECT_EQ(vm_Exec(in, &r, vm.publicIndex("first")), VM_ERR_NONE);
    EXPECT_EQ(r, 0x61626300);
    int len = -1;
    EXPECT_EQ(vm_StrLen(host, &len), VM_ERR_NONE);
    EXPECT_EQ(len, 3);
    vm_Unallot(in, addr);
    ASSERT_EQ(vm_PushString(in, &addr, &host, "abc", 0, 0), VM_ERR_NONE);
    EXPECT_EQ(in->heap - heap0, 16);
    EXPECT_EQ(std::vector<cell>(host, host + 4), std::vector<cell>({'a', 'b', 'c', 0}));
    vm_Unallot(in, addr);
    const wchar_t wide[] = {L'x', 0x20AC, 0};
    ASSERT_EQ(vm_PushString(in, &addr, &host, wide, 0, 1), VM_ERR_NONE);
    EXPECT_EQ(std::vector<cell>(host, host + 3), std::vector<cell>({'x', 0x20AC, 0}));
    vm_Unallot(in, addr);
    vm_Exec(in, &r, vm.publicIndex("first"));  // consumes the pushed address

    // A native writes a string back; the host reads it.
    cell* buf;
    ASSERT_EQ(vm_Allot(in, 8, &addr, &buf), VM_ERR_NONE);
    EXPECT_EQ(vm.call("fill", {addr, 8}, &r), VM_ERR_NONE);
    char text[16];
    EXPECT_EQ(vm_ReadString(text, buf, 0, sizeof text), VM_ERR_NONE);
    EXPECT_STREQ(text, "velt");
    // The same native, asked to write past the block, is refused before it writes.
    EXPECT_EQ(vm.call("fill", {in->stack_top - 8, 8}, &r), VM_ERR_NATIVE);
    vm_Unallot(in, addr);
    EXPECT_EQ(in->heap, heap0);
}

TEST(VmApi, AllotLeavesSixteenFreeCells) {
    Vm vm(tablesImage(true, false));
    VmInstance* in = &vm.inst;
    const int free_cells = (in->stack - in->heap) / 4;
    cell addr, *host;
    EXPECT_EQ(vm_Allot(in, free_cells - 15, &addr, &host), VM_ERR_MEMORY);
    EXPECT_EQ(vm_Allot(in, -1, &addr, &host), VM_ERR_PARAMS);
    EXPECT_EQ(vm_Allot(in, INT32_MAX, &addr, &host), VM_ERR_MEMORY);
    ASSERT_EQ(vm_Allot(in, free_cells - 16, &addr, &host), VM_ERR_NONE);
    EXPECT_EQ(in->stack - in->heap, 64);
    EXPECT_EQ(vm_PushCell(in, 1), VM_ERR_NONE);
    EXPECT_EQ(vm_PushCell(in, 1), VM_ERR_STACKERR);
    // Unallot never drops the heap below the initialised data.
    vm_Unallot(in, -400);
    EXPECT_EQ(in->heap, addr + (free_cells - 16) * 4);
    vm_Unallot(in, addr);
    EXPECT_EQ(in->heap, in->heap_low);
}

TEST(VmApi, AddressChecks) {
    Vm vm(tablesImage(true, false));
    VmInstance* in = &vm.inst;
    cell* p = reinterpret_cast<cell*>(1);
    vm_PushCell(in, 1);  // so that `stack` is a real stack cell
    struct Case {
        cell addr;
        int64_t bytes;
        int err;
    };
    const Case cases[] = {
        {0, 0, VM_ERR_NONE},
        {in->heap, 0, VM_ERR_MEMACCESS},
        {in->stack, 0, VM_ERR_NONE},
        {-4, 0, VM_ERR_MEMACCESS},
        {in->stack_top, 0, VM_ERR_MEMACCESS},
        {0, 8, VM_ERR_NONE},
        {0, 12, VM_ERR_MEMACCESS},  // runs into the free space
        {in->stack, 4, VM_ERR_NONE},
        {in->stack, 8, VM_ERR_MEMACCESS},  // past the stack top
        {0, -4, VM_ERR_MEMACCESS},
        {in->stack, INT64_MAX / 2, VM_ERR_MEMACCESS},
        {2, 4, VM_ERR_NONE},
        {6, 4, VM_ERR_MEMACCESS},  // byte ranges need no alignment
    };
    for (const Case& c : cases) {
        int err = vm_GetAddrRange(in, c.addr, c.bytes, &p);
        EXPECT_EQ(err, c.err) << c.addr << "+" << c.bytes;
        EXPECT_EQ(p == nullptr, err != VM_ERR_NONE);
        if (c.bytes == 0) {
            EXPECT_EQ(vm_GetAddr(in, c.addr, &p), c.err) << c.addr;
        }
    }
    // A single address must be a cell: string scans from it end at the sentinel cell.
    for (cell a : {1, 2, in->stack + 2, in->stack_top - 1}) {
        EXPECT_EQ(vm_GetAddr(in, a, &p), VM_ERR_MEMACCESS) << a;
        EXPECT_EQ(p, nullptr);
    }
}

TEST(VmApi, SetAndReadStringsWithinTheirSizes) {
    cell cells[8];
    std::memset(cells, 0x55, sizeof cells);
    EXPECT_EQ(vm_SetString(cells + 1, "hello", 0, 0, 2), VM_ERR_NONE);  // one character and a zero
    EXPECT_EQ(cells[1], 'h');
    EXPECT_EQ(cells[2], 0);
    EXPECT_EQ(cells[3], 0x55555555);
    EXPECT_EQ(vm_SetString(cells + 1, "hello", 1, 0, 1), VM_ERR_NONE);  // packed: three characters
    EXPECT_EQ(cells[1], 0x68656C00);
    EXPECT_EQ(vm_SetString(cells + 1, "hello", 0, 0, 0), VM_ERR_NONE);  // size 0: nothing at all
    EXPECT_EQ(cells[0], 0x55555555);
    EXPECT_EQ(cells[1], 0x68656C00);

    cell ten[11];
    vm_SetString(ten, "abcdefghij", 0, 0, 11);
    char small[4];
    EXPECT_EQ(vm_ReadString(small, ten, 0, sizeof small), VM_ERR_NONE);
    EXPECT_STREQ(small, "abc");
    wchar_t wsmall[4];
    EXPECT_EQ(vm_ReadString(wsmall, ten, 1, 4), VM_ERR_NONE);
    EXPECT_EQ(std::wcscmp(wsmall, L"abc"), 0);
    cell packed[4];
    vm_SetString(packed, "\xE9t\xE9", 1, 0, 4);
    EXPECT_EQ(vm_ReadString(wsmall, packed, 1, 4), VM_ERR_NONE);
    EXPECT_EQ(wsmall[0], wchar_t(-0x17));  // packed bytes widen with their sign
    EXPECT_EQ(wsmall[1], L't');
    EXPECT_EQ(wsmall[3], 0);
    int len = -1;
    EXPECT_EQ(vm_StrLen(packed, &len), VM_ERR_NONE);
    EXPECT_EQ(len, 3);
    const cell empty[] = {0};
    EXPECT_EQ(vm_StrLen(empty, &len), VM_ERR_NONE);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(vm_StrLen(nullptr, &len), VM_ERR_PARAMS);
}

TEST(VmApi, UserDataSlots) {
    VmInstance in{};
    int a, b, c, d, e;
    void* p = nullptr;
    EXPECT_EQ(vm_GetUserData(&in, 7, &p), VM_ERR_USERDATA);
    EXPECT_EQ(vm_SetUserData(&in, 0, &a), VM_ERR_PARAMS);
    EXPECT_EQ(vm_SetUserData(&in, VM_IDLE_TAG, &a), VM_ERR_NONE);
    EXPECT_EQ(vm_SetUserData(&in, 2, &b), VM_ERR_NONE);
    EXPECT_EQ(vm_SetUserData(&in, 3, &c), VM_ERR_NONE);
    EXPECT_EQ(vm_SetUserData(&in, 4, &d), VM_ERR_NONE);
    EXPECT_EQ(vm_SetUserData(&in, 5, &e), VM_ERR_INDEX);  // full: nothing changes
    EXPECT_EQ(vm_SetUserData(&in, 2, &e), VM_ERR_NONE);   // same tag: overwritten
    EXPECT_EQ(vm_GetUserData(&in, 2, &p), VM_ERR_NONE);
    EXPECT_EQ(p, &e);
    EXPECT_EQ(vm_GetUserData(&in, VM_IDLE_TAG, &p), VM_ERR_NONE);
    EXPECT_EQ(p, &a);
    EXPECT_EQ(vm_GetUserData(&in, 5, &p), VM_ERR_USERDATA);
    EXPECT_EQ(vm_GetUserData(&in, 0, &p), VM_ERR_USERDATA);
}

TEST(VmApi, Utf8DecodeEncodeAndMeasure) {
    struct Get {
        const char* bytes;
        int err;
        cell value = 0;
        int advance = 0;
    };
    const Get gets[] = {
        {"A", 0, 'A', 1},
        {"\xE2\x82\xAC", 0, 0x20AC, 3},
        {"\xF0\x90\x80\x80", 0, 0x10000, 4},
        {"\xFC\x84\x80\x80\x80\x80", 0, 0x4000000, 6},
        {"\xC0\x80", VM_ERR_PARAMS},      // overlong
        {"\xE0\x80\xAF", VM_ERR_PARAMS},  // overlong
        {"\xED\xA0\x80", VM_ERR_PARAMS},  // surrogate
        {"\xEF\xBF\xBE", VM_ERR_PARAMS},  // 0xFFFE
        {"\x80", VM_ERR_PARAMS},          // follow byte as lead
        {"\xFE", VM_ERR_PARAMS},
        {"\xE2\x82", VM_ERR_PARAMS},  // cut short by the end of the text
    };
    for (const Get& g : gets) {
        const char* end = nullptr;
        cell v = 99;
        EXPECT_EQ(vm_UTF8Get(g.bytes, &end, &v), g.err) << g.bytes;
        EXPECT_EQ(v, g.err ? 0 : g.value);
        EXPECT_EQ(end, g.bytes + (g.err ? 0 : g.advance));
    }
    struct Put {
        cell value;
        int room;
        int err;
        const char* bytes;
    };
    const Put puts[] = {
        {0x20AC, 8, 0, "\xE2\x82\xAC"},
        {0x20AC, 2, VM_ERR_PARAMS, ""},
        {0xD800, 8, VM_ERR_PARAMS, ""},
        {-1, 8, 0, "\xFF"},
        {0x7FFFFFFF, 8, 0, "\xFD\xBF\xBF\xBF\xBF\xBF"},
    };
    for (const Put& p : puts) {
        char buf[8] = {};
        char* end = nullptr;
        EXPECT_EQ(vm_UTF8Put(buf, &end, p.room, p.value), p.err) << p.value;
        EXPECT_EQ(std::string(buf, size_t(end - buf)), p.bytes) << p.value;
    }
    const cell unpacked[] = {'A', 0x20AC, 0xD800, 0x10000, 0};
    int len = 0;
    EXPECT_EQ(vm_UTF8Len(unpacked, &len), VM_ERR_NONE);
    EXPECT_EQ(len, 1 + 3 + 0 + 4);
    int count = -1;
    EXPECT_EQ(vm_UTF8Validate("a\xC3\xA9\xE2\x82\xAC", &count), VM_ERR_NONE);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(vm_UTF8Validate("ab\xC0\x80z", &count), VM_ERR_PARAMS);
    EXPECT_EQ(count, 3);
}

TEST(VmApi, CloneRunsOnItsOwnData) {
    VmImageBuilder b;
    b.GetOptions().stackBytes = 512;
    b.DataLabel("counter");
    b.DataCell(0);
    b.Label("bump");  // bump(): ++counter, through a native for good measure
    b.Op(OP_INC, "counter");
    b.Op(OP_PUSH_C, 0);
    b.Op(OP_SYSREQ_C, "one");
    b.Op(OP_STACK, 4);
    b.Op(OP_LOAD_PRI, "counter");
    b.Op(OP_HALT, 0);
    b.AddPublic("bump", "bump");
    VmNativeEntry natives[] = {{"one", retOne}, {nullptr, nullptr}};
    Vm src(test::build(b), natives);
    ASSERT_EQ(src.err, VM_ERR_NONE);
    cell r;
    ASSERT_EQ(src.call("bump", {}, &r), VM_ERR_NONE);
    ASSERT_EQ(r, 1);

    const VmFileHeader h = VmFileHeader::Read(src.inst.image);
    std::vector<uint8_t> data(size_t(h.stack_top - h.dat), 0xCC);
    VmInstance clone{};
    EXPECT_EQ(vm_Clone(&clone, nullptr, data.data()), VM_ERR_FORMAT);
    EXPECT_EQ(vm_Clone(nullptr, &src.inst, data.data()), VM_ERR_PARAMS);
    VmInstance unloaded{};
    EXPECT_EQ(vm_Clone(&clone, &unloaded, data.data()), VM_ERR_INIT);
    ASSERT_EQ(vm_Clone(&clone, &src.inst, data.data()), VM_ERR_NONE);
    EXPECT_EQ(clone.stack, src.inst.stack_top);
    cell sentinel;
    std::memcpy(&sentinel, data.data() + clone.stack_top, 4);
    EXPECT_EQ(sentinel, 0);

    int idx;
    ASSERT_EQ(vm_LookupPublic(&clone, "bump", &idx), VM_ERR_NONE);
    EXPECT_EQ(vm_Exec(&clone, &r, idx), VM_ERR_NONE);
    EXPECT_EQ(r, 2);  // started from the source's data at the time of cloning
    EXPECT_EQ(vm_Exec(&clone, &r, idx), VM_ERR_NONE);
    EXPECT_EQ(r, 3);
    EXPECT_EQ(src.call("bump", {}, &r), VM_ERR_NONE);
    EXPECT_EQ(r, 2);  // the source's own counter did not move
    vm_Teardown(&clone);
}

TEST(VmApi, HeaderQueries) {
    Vm vm(tablesImage(true, true));
    uint16_t flags = 0;
    EXPECT_EQ(vm_HeaderFlags(&vm.inst, &flags), VM_ERR_NONE);
    EXPECT_EQ(flags, VMF_COMPACT);
    long code = 0, data = 0, stack = 0;
    EXPECT_EQ(vm_MemorySizes(&vm.inst, &code, &data, &stack), VM_ERR_NONE);
    EXPECT_EQ(code, 6 * 4);
    EXPECT_EQ(data, 2 * 4);
    EXPECT_EQ(stack, 16384);
    EXPECT_EQ(vm_JitSetup(&vm.inst, nullptr, nullptr), VM_ERR_INIT_JIT);
    EXPECT_STREQ(vm_ErrorText(17), "Invalid/unsupported P-code file format");
    EXPECT_STREQ(vm_ErrorText(26), "(unknown)");
    VmInstance none{};
    EXPECT_EQ(vm_HeaderFlags(&none, &flags), VM_ERR_FORMAT);
}

}  // namespace
}  // namespace velt
