// The quarter-wave table and its lookup at the points where a slip shows:
// truncation, the quarter boundaries, the zero crossings and the high bits.
#include "waveform.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

class Waveform : public ::testing::Test {
protected:
    static void SetUpTestSuite() { generate_sin_table(); }
};

TEST_F(Waveform, TableEntries) {
    const struct {
        int index;
        int16_t value;
    } cases[] = {
        // Entry 13 is 2610.95 truncated, not rounded; entry 255 stops short of the peak.
        {0, 0}, {1, 201}, {13, 2610}, {128, 23169}, {254, 32764}, {255, 32766},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sin_table[c.index], c.value) << "entry " << c.index;
    }
    for (int i = 1; i < sin_table_size; ++i) {
        EXPECT_LT(sin_table[i - 1], sin_table[i]) << "entry " << i;
    }
}

TEST_F(Waveform, LookupAcrossTheCycle) {
    const struct {
        uint32_t phase;
        int16_t value;
    } cases[] = {
        {0, 0},       {1, 201},   {13, 2610}, {255, 32766},      {256, 32766},     {257, 32764},
        {510, 201},   {511, 0},   {512, -1},  {513, -202},       {767, -32767},    {768, -32767},
        {1022, -202}, {1023, -1}, {1024, 0},  {1024 + 13, 2610}, {0xFFFFFFFF, -1}, {0x80000000 | 513, -202},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lookup_sin(c.phase), c.value) << "phase " << c.phase;
    }
}

TEST_F(Waveform, CycleSumsToMinus512) {
    // Complementing the negative half (-v - 1) rather than negating it leaves
    // a mean of -0.5 over the cycle.
    int32_t sum = 0;
    for (uint32_t phase = 0; phase < 1024; ++phase) {
        sum += lookup_sin(phase);
    }
    EXPECT_EQ(sum, -512);
}

}  // namespace
