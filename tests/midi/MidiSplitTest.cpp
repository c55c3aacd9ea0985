// How an input cuts incoming byte runs into single messages.
#include "TestMidiFactory.h"

#include "midi/MidiBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

using namespace Tr;
using Bytes = std::vector<unsigned char>;
using Pieces = std::vector<Bytes>;

namespace
{
class SplitTest : public ::testing::Test, public TMidiDeviceDataListener
{
protected:
    SplitTest() : FInput(static_cast<TMidiInputBase*>(FFactory.CreateDevice(&FDesc))) { FInput->SetDataListener(this); }

    // Splits a copy held in a heap block of exactly its size, so the sanitizer sees any read past
    // the end, and checks that the pieces lie inside the run, in order, without overlap.
    Pieces Split(const Bytes& bytes)
    {
        FRun.reset(new unsigned char[std::max<size_t>(bytes.size(), 1)]);
        std::copy(bytes.begin(), bytes.end(), FRun.get());
        FLen = static_cast<int>(bytes.size());
        FNext = FRun.get();
        FPieces.clear();
        const int delivered = FInput->SplitAndDispatchMidiMessage(1234, FRun.get(), FLen);
        EXPECT_EQ(delivered, static_cast<int>(FPieces.size())) << "the result counts the pieces delivered";
        return FPieces;
    }

    void OnMidiDeviceMessage(TMidiInputBase*, unsigned long long time, unsigned char* data, int len) override
    {
        EXPECT_EQ(time, 1234u);
        EXPECT_GE(len, 1);
        EXPECT_GE(data, FNext) << "pieces come in order and never overlap";
        EXPECT_LE(data + len, FRun.get() + FLen) << "a piece ends inside the run";
        FNext = data + len;
        FPieces.emplace_back(data, data + len);
    }

    TestMidi::TestMidiFactory FFactory;
    MidiDeviceDescriptor FDesc{&FFactory, 1, 0, "Split In", "", "", ""};
    std::unique_ptr<TMidiInputBase> FInput;
    std::unique_ptr<unsigned char[]> FRun;
    int FLen = 0;
    const unsigned char* FNext = nullptr;
    Pieces FPieces;
};

Bytes SysEx(size_t size)
{
    Bytes m(size);
    for (size_t i = 0; i < size; ++i)
        m[i] = static_cast<unsigned char>(i % 0x80);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}
} // namespace

// The length of each kind of message and the shapes of cut-short, interrupted and stray runs are
// the random test's rules below; long SysEx runs it rarely makes.
TEST_F(SplitTest, LongSystemExclusiveEdgeCasesAndFilters)
{
    const Bytes settings = SysEx(546), big = SysEx(64 * 1024);
    EXPECT_EQ(Split(settings), Pieces{settings});
    Bytes both = big;
    both.insert(both.end(), settings.begin(), settings.end());
    both.push_back(0xF8);
    EXPECT_EQ(Split(both), (Pieces{big, settings, {0xF8}}));
    const Bytes open(big.begin(), big.end() - 1);
    EXPECT_EQ(Split(open), Pieces{open}) << "a SysEx that never ends takes the whole run";

    // Nothing to read.
    unsigned char one = 0x90;
    for (int len : {0, -1, -2147483647 - 1})
        EXPECT_EQ(FInput->SplitAndDispatchMidiMessage(0, &one, len), 0) << len;
    EXPECT_EQ(FInput->SplitAndDispatchMidiMessage(0, nullptr, 16), 0) << "no data, nothing to read";

    // Each filter on its own: real-time bytes cut a SysEx; what follows them starts with a data byte.
    FInput->SetTimingClock(0);
    EXPECT_EQ(Split({0xF0, 0x01, 0xF8, 0x02, 0xF7}), (Pieces{{0xF0, 0x01}, {0x02, 0xF7}}));
    FInput->SetActiveSensing(0);
    EXPECT_EQ(Split({0xFE, 0xFE, 0xF8, 0x90, 0x3C, 0x40}), (Pieces{{0x90, 0x3C, 0x40}}));
    EXPECT_EQ(Split({0xF0, 0xFE}), (Pieces{{0xF0}})) << "the filters apply to a piece that starts with the byte";

    MidiDeviceDescriptor desc(&FFactory, 1, 0, "No Listener", "", "", "");
    std::unique_ptr<TMidiInputBase> bare(static_cast<TMidiInputBase*>(FFactory.CreateDevice(&desc)));
    EXPECT_EQ(bare->SplitAndDispatchMidiMessage(0, &one, 1), -1) << "no listener";
}

// Random runs, biased towards status bytes and the special ones, against the rules stated
// independently of the implementation: pieces cover the run in order, each piece has the shape
// its first byte allows, and only filtered bytes go missing.
TEST_F(SplitTest, RandomRunsWithFixedSeed)
{
    std::mt19937 rng(20240611u);
    const unsigned char special[] = {0xF0, 0xF7, 0xF8, 0xFE, 0x90, 0xF1, 0xF2, 0xC0};
    for (int round = 0; round < 4000; ++round)
    {
        const bool filter = round % 3 == 0;
        FInput->SetActiveSensing(filter ? 0 : 1);
        FInput->SetTimingClock(filter ? 0 : 1);
        Bytes run(rng() % (round % 50 == 0 ? 2000u : 40u));
        for (unsigned char& b : run)
        {
            const unsigned pick = rng() % 4;
            b = pick == 0 ? special[rng() % sizeof special] : static_cast<unsigned char>(rng() % (pick == 1 ? 256 : 128));
        }
        size_t pos = 0;
        // With the filters on, no piece starts with a filtered byte: each one met here was dropped.
        auto skipFiltered = [&] {
            while (filter && pos < run.size() && (run[pos] == 0xF8 || run[pos] == 0xFE))
                ++pos;
        };
        for (const Bytes& p : Split(run))
        {
            skipFiltered();
            ASSERT_LE(pos + p.size(), run.size()) << "round " << round;
            ASSERT_TRUE(std::equal(p.begin(), p.end(), run.begin() + static_cast<long>(pos))) << "round " << round;
            const unsigned char first = p[0];
            const size_t rest = run.size() - pos;
            if (first == 0xF0)
            {
                for (size_t i = 1; i + 1 < p.size(); ++i)
                    ASSERT_LT(p[i], 0x80) << "round " << round << ": a SysEx piece holds data bytes only";
                const bool ended = p.size() > 1 && p.back() >= 0x80;
                ASSERT_TRUE(ended ? p.back() == 0xF7 : p.size() == rest || run[pos + p.size()] >= 0x80)
                    << "round " << round << ": a SysEx ends with 0xF7, before a status byte or with the run";
            }
            else
            {
                const size_t expected = first < 0x80 ? rest
                                        : first >= 0xF4 || first == 0xF6 || first == 0xF7 ? 1
                                        : (first & 0xE0) == 0xC0 || first == 0xF1 || first == 0xF3 ? 2
                                                                                                    : 3;
                ASSERT_EQ(p.size(), std::min(expected, rest)) << "round " << round << ", status " << int(first);
            }
            pos += p.size();
        }
        skipFiltered();
        ASSERT_EQ(pos, run.size()) << "round " << round << ": the pieces cover the run";
    }
}
