// Render failure messages and rectangle arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/messages.h"

namespace {

std::vector<std::string> g_seen;
void Observe(const std::string& text) { g_seen.push_back(text); }

class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_seen.clear();
        SetMessageObserver(Observe);
    }
    void TearDown() override { SetMessageObserver(nullptr); }
};

TEST_F(MessagesTest, ComposesBothCodesAndLeavesTheHostRecordsAlone) {
    PF_OutData out;
    std::memset(&out, 0x5A, sizeof out);
    const PF_OutData before = out;
    SendMessageAppendErr("error on buffer checkout", &out, 0, 0);
    SendMessageAppendErr("error on param checkout", &out, -4, 512);
    SendMessageAppendErr("cancelled", &out, PF_Interrupt_CANCEL, 0);
    SendMessageAppendErr("cancel with a cause", &out, PF_Interrupt_CANCEL, 1);
    const std::vector<std::string> expected = {"error on buffer checkout err 0 err2 0",
                                               "error on param checkout err -4 err2 512",
                                               "cancel with a cause err 517 err2 1"};
    EXPECT_EQ(g_seen, expected);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

PF_LRect R(A_long l, A_long t, A_long r, A_long b) { return PF_LRect{l, t, r, b}; }

bool Same(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(Rects, EmptinessKeepsTheValues) {
    const PF_LRect flat = R(3, 0, 3, 10), upside = R(0, 5, 10, 2), box = R(0, 0, 1, 1);
    const PF_LRect row = R(0, 4, 10, 4);  // no height
    EXPECT_TRUE(IsEmptyRect(&flat));
    EXPECT_TRUE(IsEmptyRect(&row));
    EXPECT_TRUE(IsEmptyRect(&upside));
    EXPECT_FALSE(IsEmptyRect(&box));
}

TEST(Rects, Union) {
    struct Case {
        PF_LRect src, dst, expected;
    } cases[] = {
        {R(0, 0, 10, 10), R(0, 0, 0, 0), R(0, 0, 10, 10)},     // into empty: copied
        {R(5, 0, 5, 9), R(1, 2, 3, 4), R(1, 2, 3, 4)},         // empty source: unchanged
        {R(5, 0, 5, 9), R(7, 7, 7, 7), R(5, 0, 5, 9)},         // both empty: source copied
        {R(0, 0, 10, 10), R(5, -5, 20, 8), R(0, -5, 20, 10)},  // bounding rectangle
        {R(-3, -3, -1, -1), R(0, 0, 2, 2), R(-3, -3, 2, 2)},
    };
    for (const Case& c : cases) {
        PF_LRect dst = c.dst;
        UnionLRect(&c.src, &dst);
        EXPECT_TRUE(Same(dst, c.expected))
            << dst.left << "," << dst.top << "," << dst.right << "," << dst.bottom;
    }
}

}  // namespace
