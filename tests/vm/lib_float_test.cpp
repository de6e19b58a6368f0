// Float library: arithmetic rounded once from double, the rounding modes, comparisons with NaN,
// text conversion and the domain error of floatlog.

#include "tests/vm/lib_fixture.h"

#include <cmath>
#include <limits>

namespace velt::libtest {
namespace {

class FloatLib : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.loadError, VM_ERR_NONE);
        ASSERT_EQ(s.attach({vm_AttachFloatLib}), VM_ERR_NONE);
    }
    Script s{"lib_float"};
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST_F(FloatLib, Arithmetic) {
    struct Case {
        const char* native;
        std::vector<float> args;
        float want;
    };
    const Case cases[] = {
        {"floatmul", {1.5f, 2.0f}, 3.0f},
        {"floatmul", {1e30f, 1e30f}, kInf},
        {"floatdiv", {1.0f, 4.0f}, 0.25f},
        {"floatdiv", {1.0f, 0.0f}, kInf},
        {"floatdiv", {-1.0f, 0.0f}, -kInf},
        {"floatadd", {16777216.0f, 1.0f}, 16777216.0f},
        {"floatadd", {0.1f, 0.2f}, static_cast<float>(double{0.1f} + double{0.2f})},
        {"floatsub", {1.0f, 0.75f}, 0.25f},
        {"floatfract", {2.75f}, 0.75f},
        {"floatfract", {-2.25f}, 0.75f},
        {"floatsqroot", {16.0f}, 4.0f},
        {"floatpower", {2.0f, 10.0f}, 1024.0f},
        {"floatpower", {2.0f, -1.0f}, 0.5f},
        {"floatlog", {8.0f, 2.0f}, 3.0f},
        {"floatlog", {1000.0f, 10.0f}, 3.0f},
        {"floatlog", {0.01f, 10.0f}, static_cast<float>(std::log10(double{0.01f}))},
        {"floatsin", {90.0f, 1}, 1.0f},
        {"floatsin", {100.0f, 2}, 1.0f},
        {"floatcos", {0.0f, 0}, 1.0f},
        {"floatcos", {180.0f, 1}, -1.0f},
        {"floattan", {45.0f, 1}, 1.0f},
        {"floatabs", {-3.5f}, 3.5f},
        {"floatabs", {3.5f}, 3.5f},
        {"floatabs", {-kInf}, kInf},
    };
    for (const Case& c : cases) {
        std::vector<cell> args;
        for (size_t i = 0; i < c.args.size(); ++i) {
            // The trigonometric mode is an integer, not a float.
            const std::string native = c.native;
            const bool mode =
                i == 1 && (native == "floatsin" || native == "floatcos" || native == "floattan");
            args.push_back(mode ? static_cast<cell>(c.args[i]) : fbits(c.args[i]));
        }
        const Outcome got = s.call(c.native, args);
        EXPECT_EQ(got.err, VM_ERR_NONE) << c.native;
        EXPECT_EQ(got.value, fbits(c.want)) << c.native << " " << c.args[0] << " gave " << bitsf(got.value);
    }
}

TEST_F(FloatLib, IntegersInAndOut) {
    EXPECT_EQ(s.call("float", {7}).value, fbits(7.0f));
    EXPECT_EQ(s.call("float", {-3}).value, fbits(-3.0f));
    EXPECT_EQ(s.call("float", {16777217}).value, fbits(16777216.0f));
    EXPECT_EQ(s.call("float", {INT32_MIN}).value, fbits(-2147483648.0f));

    struct Round {
        float f;
        cell want[4];  // methods 0 (nearest), 1 (floor), 2 (ceil), 3 (toward zero)
    };
    const Round rounds[] = {
        {2.5f, {3, 2, 3, 2}},
        {-2.5f, {-2, -3, -2, -2}},
        {0.49999997f, {0, 0, 1, 0}},
        {-0.5f, {0, -1, 0, 0}},
        {2147483520.0f, {2147483520, 2147483520, 2147483520, 2147483520}},
        {-2147483648.0f, {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}},
        {2147483648.0f, {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}},
        {1e10f, {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}},
        {kNaN, {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}},
        {-kInf, {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}},
    };
    for (const Round& r : rounds) {
        for (cell method = 0; method < 4; ++method) {
            EXPECT_EQ(s.call("floatround", {fbits(r.f), method}).value, r.want[method])
                << r.f << " method " << method;
        }
    }
    EXPECT_EQ(s.call("floatround", {fbits(2.5f), 99}).value, 3);  // unknown methods round to nearest
}

TEST_F(FloatLib, ComparisonsAndSpecialValues) {
    const std::tuple<float, float, cell> cmps[] = {
        {1.0f, 2.0f, -1}, {2.0f, 1.0f, 1},  {1.0f, 1.0f, 0},  {0.0f, -0.0f, 0},
        {kNaN, 1.0f, -1}, {1.0f, kNaN, -1}, {kNaN, kNaN, -1}, {-kInf, kInf, -1},
    };
    for (const auto& [a, b, want] : cmps)
        EXPECT_EQ(s.call("floatcmp", {fbits(a), fbits(b)}).value, want) << a << " " << b;

    EXPECT_TRUE(std::isnan(bitsf(s.call("floatsqroot", {fbits(-1.0f)}).value)));
    EXPECT_TRUE(std::isnan(bitsf(s.call("floatdiv", {fbits(0.0f), fbits(0.0f)}).value)));
    // floatabs flips the sign of whatever is not >= 0: NaN included, -0.0 left alone.
    EXPECT_EQ(s.call("floatabs", {0x7FC00000}).value, static_cast<cell>(0xFFC00000));
    EXPECT_EQ(s.call("floatabs", {static_cast<cell>(0x80000000)}).value, static_cast<cell>(0x80000000));
}

TEST_F(FloatLib, LogDomainEndsTheRun) {
    for (const auto& [f, base] : {std::pair{8.0f, 0.0f}, {0.0f, 2.0f}, {-1.0f, 2.0f}, {8.0f, -2.0f}}) {
        EXPECT_EQ(s.call("floatlog", {fbits(f), fbits(base)}).err, VM_ERR_DOMAIN) << f << " " << base;
    }
    EXPECT_TRUE(std::isnan(bitsf(s.call("floatlog", {fbits(kNaN), fbits(2.0f)}).value)));
}

TEST_F(FloatLib, FromText) {
    const std::pair<std::string, float> cases[] = {
        {"1.5e2", 150.0f},
        {"  -2.25", -2.25f},
        {"3.5abc", 3.5f},
        {"abc", 0.0f},
        {"", 0.0f},
        {std::string(56, ' ') + "3.5", 3.5f},  // 59 characters
        {std::string(57, ' ') + "3.5", 0.0f},  // 60 characters or more give 0.0
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(s.call("floatstr", {s.unpacked(text)}).value, fbits(want)) << text;
        EXPECT_EQ(s.call("floatstr", {s.packed(text)}).value, fbits(want)) << text;
    }
}

}  // namespace
}  // namespace velt::libtest
