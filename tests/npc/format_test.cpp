// The bot's format engine: conversions, flags, widths and precisions, missing and bad arguments,
// the output bound, and the format native's copy into the script.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "npc/NpcFormat.h"
#include "npc/NpcNatives.h"
#include "server/vm/ScriptLoader.h"

namespace velt {
namespace {

// A loaded script whose heap holds the texts and values of one case.
class FormatRig {
public:
    FormatRig() {
        const std::string path = std::string(VELT_NPC_FIXTURE_DIR) + "/npc_recorder.vmb";
        EXPECT_EQ(LoadScriptFromFile(&vm, path.c_str()), VM_ERR_NONE);
        heapStart_ = vm.heap;
    }
    ~FormatRig() { FreeScript(&vm); }
    void Reset() { vm.heap = heapStart_; }

    cell Cells(const std::vector<cell>& cells) {
        cell addr = 0;
        cell* host = nullptr;
        EXPECT_EQ(vm_Allot(&vm, int(cells.size()), &addr, &host), VM_ERR_NONE);
        if (host != nullptr) std::memcpy(host, cells.data(), cells.size() * sizeof(cell));
        return addr;
    }
    cell Text(const std::string& s) {
        std::vector<cell> cells;
        for (unsigned char c : s) cells.push_back(c);
        cells.push_back(0);
        return Cells(cells);
    }
    cell Int(cell v) { return Cells({v}); }
    cell Float(float f) {
        cell c;
        std::memcpy(&c, &f, sizeof c);
        return Int(c);
    }
    // Formats with the format at `format` and the argument addresses `args`.
    std::string Format(cell format, const std::vector<cell>& args) {
        std::vector<cell> params{cell(4 * (1 + args.size())), format};
        params.insert(params.end(), args.begin(), args.end());
        char out[kNpcFormatBufferSize];
        const int32_t n = NpcFormat(&vm, params.data(), 1, out, sizeof out);
        EXPECT_EQ(size_t(n), std::strlen(out));
        return std::string(out, size_t(n));
    }
    std::string Format(const std::string& format, const std::vector<cell>& args) {
        return Format(Text(format), args);
    }
    std::string ReadCells(cell addr, size_t count) {
        cell* p = nullptr;
        EXPECT_EQ(vm_GetAddrRange(&vm, addr, int64_t(count) * 4, &p), VM_ERR_NONE);
        std::string s;
        for (size_t i = 0; i < count && p != nullptr; ++i) s.push_back(p[i] == 0 ? '|' : char(p[i]));
        return s;
    }

    VmInstance vm{};

private:
    cell heapStart_ = 0;
};

enum class Arg { Int, Float, Text, Bad };
struct A {
    Arg kind;
    cell i = 0;
    float f = 0;
    std::string s;
};
A I(cell v) { return {Arg::Int, v, 0, ""}; }
A F(float v) { return {Arg::Float, 0, v, ""}; }
A S(std::string v) { return {Arg::Text, 0, 0, std::move(v)}; }
A Bad() { return {Arg::Bad, 0, 0, ""}; }

TEST(NpcFormat, Conversions) {
    const struct {
        const char* format;
        std::vector<A> args;
        const char* expected;
    } cases[] = {
        // Decimal: blanks count the sign, zeros do not; '-' puts the padding after.
        {"%5d", {I(-12)}, "  -12"},
        {"%05d", {I(-12)}, "-00012"},
        {"%-5d", {I(12)}, "12   "},
        {"%-05d", {I(12)}, "12000"},
        {"%3d", {I(12345)}, "12345"},
        {"%d", {I(INT_MIN)}, "-2147483648"},
        {"%i|%d", {I(0), I(7)}, "0|7"},
        // The 32 bits as unsigned hexadecimal or binary.
        {"%x", {I(255)}, "FF"},
        {"%x", {I(-1)}, "FFFFFFFF"},
        {"%h", {I(171)}, "AB"},
        {"%4x", {I(10)}, "   A"},
        {"%b", {I(5)}, "101"},
        {"%08b", {I(5)}, "00000101"},
        // Floats: truncated digit by digit, blanks before sign and integer part.
        {"%.2f", {F(1.999f)}, "1.99"},
        {"%f", {F(-0.5f)}, "-0.500000"},
        {"%.0f", {F(2.5f)}, "2"},
        {"%6.1f", {F(-1.5f)}, "    -1.5"},
        {"%06.1f", {F(1.5f)}, "     1.5"},
        {"%f", {F(std::nanf(""))}, "NaN"},
        {"%.1f", {F(3e9f)}, "2147483647.0"},
        {"%.1f", {F(-INFINITY)}, "-2147483647.0"},
        // Texts: precision cuts, width pads on the right.
        {"%5s|", {S("ab")}, "ab   |"},
        {"%.1s", {S("ab")}, "a"},
        {"%3s|", {S("")}, "   |"},
        {"%c%c", {I('A' + 256), I('z')}, "Az"},
        // Widths and precisions from arguments.
        {"%*d", {I(6), I(42)}, "    42"},
        {"%.*s", {I(2), S("abcd")}, "ab"},
        {"%-*d|", {I(4), I(1)}, "1   |"},
        // Characters that are no conversion are written and take no argument.
        {"%%", {}, "%"},
        {"100%", {}, "100%"},
        {"%q%s", {S("x")}, "qx"},
        {"%z", {}, "z"},
        // With no argument left a conversion writes nothing; an unreadable one writes nothing
        // but is used up.
        {"%d %d", {I(5)}, "5 "},
        {"%s|%f|%c|%*d", {}, "|||"},
        {"%d|%d", {Bad(), I(7)}, "|7"},
    };
    FormatRig rig;
    for (const auto& c : cases) {
        rig.Reset();
        std::vector<cell> args;
        for (const A& a : c.args) {
            switch (a.kind) {
                case Arg::Int: args.push_back(rig.Int(a.i)); break;
                case Arg::Float: args.push_back(rig.Float(a.f)); break;
                case Arg::Text: args.push_back(rig.Text(a.s)); break;
                case Arg::Bad: args.push_back(cell(0x7FFFFFF0)); break;
            }
        }
        EXPECT_EQ(rig.Format(c.format, args), c.expected) << "format \"" << c.format << "\"";
    }
}

TEST(NpcFormat, HostileFormatsStayInBounds) {
    FormatRig rig;
    // Output stops at 4095 characters whatever the widths ask for.
    const std::string longOut =
        rig.Format("%4000d%4000d%99999999999s", {rig.Int(1), rig.Int(2), rig.Text("x")});
    EXPECT_EQ(longOut.size(), kNpcFormatBufferSize - 1);
    rig.Reset();

    // Characters are the low byte of each cell.
    EXPECT_EQ(rig.Format(rig.Cells({0x141, '%', 's', 0}), {rig.Cells({0x7142, 0x43, 0})}), "ABC");
    rig.Reset();

    // A format without a terminator ends where the script's memory does (the heap top).
    const cell unterminated = rig.Cells(std::vector<cell>(8, 'a'));
    EXPECT_EQ(rig.Format(unterminated, {}), "aaaaaaaa");
    // So does a text argument.
    const cell percentS = rig.Text("%s");
    EXPECT_EQ(rig.Format(percentS, {rig.Cells(std::vector<cell>(5, 'b'))}), "bbbbb");
    rig.Reset();

    // An unreadable format formats as empty.
    for (cell bad : {cell(-4), cell(0x7FFFFFF0), rig.vm.heap + 64}) EXPECT_EQ(rig.Format(bad, {}), "");

    // Arguments on the script's stack under a size cell that claims far more than the stack
    // holds count as none: nothing past the top of the stack is taken for a value.
    const cell manyInts = rig.Text("%d%d%d%d%d%d%d%d");
    ASSERT_EQ(vm_PushCell(&rig.vm, manyInts), VM_ERR_NONE);
    ASSERT_EQ(vm_PushCell(&rig.vm, 4000), VM_ERR_NONE);
    cell* params = nullptr;
    ASSERT_EQ(vm_GetAddr(&rig.vm, rig.vm.stack, &params), VM_ERR_NONE);
    char out[kNpcFormatBufferSize];
    EXPECT_EQ(NpcFormat(&rig.vm, params, 1, out, sizeof out), 0);
    // The format native likewise does nothing: its output array (the text above) stays as it was.
    EXPECT_EQ(NpcNative_format(&rig.vm, params), 0);
    EXPECT_EQ(rig.ReadCells(manyInts, 3), "%d%");
}

TEST(NpcFormat, NativeCopiesIntoTheScriptWithinTheLength) {
    FormatRig rig;
    const cell fmt = rig.Text("hello");
    const cell out = rig.Cells(std::vector<cell>(8, 0x2A));
    auto call = [&](cell outAddr, cell length) {
        const cell params[] = {12, outAddr, length, fmt};
        return NpcNative_format(&rig.vm, params);
    };
    EXPECT_EQ(call(out, 1), 0);
    EXPECT_EQ(rig.ReadCells(out, 2), "|*");
    EXPECT_EQ(call(out, 4), 3);
    EXPECT_EQ(rig.ReadCells(out, 5), "hel|*");
    EXPECT_EQ(call(out, 8), 5);
    EXPECT_EQ(rig.ReadCells(out, 7), "hello|*");
    // No room, a bad array, or an array that runs past the script's memory: nothing is written.
    EXPECT_EQ(call(out, 0), 0);
    EXPECT_EQ(call(cell(-8), 8), 0);
    const cell tail = rig.Cells({0x2A, 0x2A});
    EXPECT_EQ(call(tail, 100), 0);
    EXPECT_EQ(rig.ReadCells(tail, 2), "**");
}

TEST(NpcFormat, NativeStoresBytesUnsignedAndKeepsZeroCharacters) {
    // The bot's copy-out differs from the server's: bytes above 127 stay positive, and a zero
    // byte that "%c" wrote is stored and counted like any other character.
    FormatRig rig;
    const cell fmt = rig.Text("%c%c%c");
    const cell out = rig.Cells(std::vector<cell>(6, 0x2A));
    const cell params[] = {24, out, 6, fmt, rig.Int(0xE9), rig.Int(0), rig.Int('x')};
    EXPECT_EQ(NpcNative_format(&rig.vm, params), 3);
    cell* p = nullptr;
    ASSERT_EQ(vm_GetAddrRange(&rig.vm, out, 5 * 4, &p), VM_ERR_NONE);
    EXPECT_EQ(std::vector<cell>(p, p + 5), (std::vector<cell>{0xE9, 0, 'x', 0, 0x2A}));
}

}  // namespace
}  // namespace velt
