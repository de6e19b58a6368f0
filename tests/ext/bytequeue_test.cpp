// The byte queue as a ring: growth, wrap, growth while wrapped and peeks, every byte checked
// against a plain model of the same operations.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "net/ext/ByteQueue.h"

using velt::ByteQueue;

namespace {

struct Op {
    enum Kind { Write, Read, Peek, Skip } kind;
    uint32_t length;
    bool ok;             // expected result of a read or peek
    uint32_t allocated;  // expected storage size after the step
};

// Writes bytes numbered on from the last one written, so order and loss both show.
class Model {
public:
    void Run(ByteQueue& queue, const Op& op, size_t step) {
        switch (op.kind) {
            case Op::Write: {
                std::vector<uint8_t> bytes(op.length);
                for (uint8_t& b : bytes) {
                    b = next_++;
                    model_.push_back(b);
                }
                EXPECT_TRUE(queue.WriteBytes(bytes.data(), op.length)) << "step " << step;
                break;
            }
            case Op::Read:
            case Op::Peek: {
                std::vector<uint8_t> got(op.length + 1, 0xEE);
                EXPECT_EQ(queue.ReadBytes(got.data(), op.length, op.kind == Op::Peek), op.ok)
                    << "step " << step;
                if (op.ok) {
                    std::vector<uint8_t> want(model_.begin(), model_.begin() + op.length);
                    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + op.length), want)
                        << "step " << step;
                    if (op.kind == Op::Read) model_.erase(model_.begin(), model_.begin() + op.length);
                }
                EXPECT_EQ(got[op.length], 0xEE) << "step " << step << ": wrote past the length";
                break;
            }
            case Op::Skip:
                queue.IncrementReadOffset(op.length);
                model_.erase(model_.begin(), model_.begin() + op.length);
                break;
        }
        EXPECT_EQ(queue.GetBytesWritten(), model_.size()) << "step " << step;
        EXPECT_EQ(queue.GetAllocatedSize(), op.allocated) << "step " << step;
    }

private:
    std::deque<uint8_t> model_;
    uint8_t next_ = 1;
};

void RunTable(const std::vector<Op>& ops) {
    ByteQueue queue;
    Model model;
    for (size_t i = 0; i < ops.size(); ++i) model.Run(queue, ops[i], i);
}

TEST(ByteQueue, GrowthAndWrapTable) {
    // First write allocates 256; a 300-byte write into a full queue grows by 600.
    RunTable({{Op::Write, 10, true, 256},
              {Op::Write, 245, true, 256},  // 255 stored: full (one byte stays free)
              {Op::Write, 300, true, 856},
              {Op::Read, 555, true, 856},
              {Op::Read, 1, false, 856}});
    // 250 in (in writes small enough to take 256 bytes), 200 out, 100 in wraps; 150 come back in order.
    RunTable({{Op::Write, 10, true, 256},
              {Op::Write, 240, true, 256},
              {Op::Read, 200, true, 256},
              {Op::Write, 100, true, 256},
              {Op::Peek, 150, true, 256},
              {Op::Read, 151, false, 256},
              {Op::Read, 150, true, 256},
              {Op::Read, 0, true, 256}});
    // Growing while the bytes wrap, with the front part shorter than the growth ...
    RunTable({{Op::Write, 10, true, 256},
              {Op::Write, 190, true, 256},
              {Op::Read, 150, true, 256},
              {Op::Write, 100, true, 256},  // wraps: 44 at the front
              {Op::Write, 120, true, 512},
              {Op::Read, 270, true, 512}});
    // ... equal to it (256 bytes at the front, a growth of 256) ...
    RunTable({{Op::Write, 300, true, 600},
              {Op::Skip, 300, true, 600},
              {Op::Write, 556, true, 600},  // 300 at the end, 256 at the front
              {Op::Write, 100, true, 856},
              {Op::Read, 656, true, 856}});
    // ... and longer than it, so the rest of the front moves down.
    RunTable({{Op::Write, 3000, true, 6000},
              {Op::Read, 2990, true, 6000},
              {Op::Write, 5000, true, 6000},  // 3000 at the end, 2000 at the front
              {Op::Write, 990, true, 7980},   // a growth of 1980
              {Op::Peek, 6000, true, 7980},
              {Op::Read, 6000, true, 7980}});
}

TEST(ByteQueue, RefusalsChangeNothingAndClearStartsOver) {
    ByteQueue queue;
    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_TRUE(queue.WriteBytes(bytes, 4));
    EXPECT_FALSE(queue.WriteBytes(nullptr, 4));
    EXPECT_FALSE(queue.WriteBytes(bytes, ByteQueue::kMaxStoredBytes));
    uint8_t out[8] = {};
    EXPECT_FALSE(queue.ReadBytes(out, 5, false));
    EXPECT_EQ(queue.GetBytesWritten(), 4u);
    testing::internal::CaptureStdout();
    queue.Print();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "1 2 3 4 \n");
    queue.Clear();
    EXPECT_EQ(queue.GetBytesWritten(), 0u);
    EXPECT_EQ(queue.GetAllocatedSize(), 0u);
    uint8_t high = 0xFF;
    EXPECT_TRUE(queue.WriteBytes(&high, 1));
    testing::internal::CaptureStdout();
    queue.Print();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-1 \n");
}

}  // namespace
