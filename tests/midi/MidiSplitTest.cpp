// How an input cuts incoming byte runs into single messages.
#include "TestMidiFactory.h"

#include "midi/MidiBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

using namespace Tr;
using namespace TestMidi;
using Bytes = std::vector<unsigned char>;
using Pieces = std::vector<Bytes>;

namespace
{
// Records pieces and checks that each lies inside the run being split, in order, without gaps
// except where pieces were dropped.
class CheckingListener : public TMidiDeviceDataListener
{
public:
    void Begin(const unsigned char* run, int len)
    {
        FRun = run;
        FLen = len;
        FNext = run;
        FPieces.clear();
    }

    void OnMidiDeviceMessage(TMidiInputBase*, unsigned long long time, unsigned char* data, int len) override
    {
        EXPECT_EQ(time, 1234u);
        EXPECT_GE(len, 1);
        EXPECT_GE(data, FNext) << "pieces come in order and never overlap";
        EXPECT_LE(data + len, FRun + FLen) << "a piece ends inside the run";
        FNext = data + len;
        FPieces.emplace_back(data, data + len);
    }

    const Pieces& Got() const { return FPieces; }

private:
    const unsigned char* FRun = nullptr;
    int FLen = 0;
    const unsigned char* FNext = nullptr;
    Pieces FPieces;
};

class SplitTest : public ::testing::Test
{
protected:
    SplitTest() : FInput(static_cast<TMidiInputBase*>(FFactory.CreateDevice(&FDesc))) { FInput->SetDataListener(&FListener); }

    // Splits a copy of bytes held in a heap block of exactly its size, so the sanitizer sees any
    // read past the end.
    int Split(const Bytes& bytes)
    {
        const size_t n = bytes.size();
        std::unique_ptr<unsigned char[]> run(new unsigned char[n == 0 ? 1 : n]);
        std::copy(bytes.begin(), bytes.end(), run.get());
        FListener.Begin(run.get(), static_cast<int>(n));
        const int result = FInput->SplitAndDispatchMidiMessage(1234, run.get(), static_cast<int>(n));
        EXPECT_EQ(result, static_cast<int>(FListener.Got().size())) << "the result counts the pieces delivered";
        return result;
    }

    Pieces SplitPieces(const Bytes& bytes)
    {
        Split(bytes);
        return FListener.Got();
    }

    TestMidiFactory FFactory;
    MidiDeviceDescriptor FDesc{&FFactory, 1, 0, "Split In", "", "", ""};
    std::unique_ptr<TMidiInputBase> FInput;
    CheckingListener FListener;
};

Bytes Concat(const Pieces& pieces)
{
    Bytes all;
    for (const Bytes& p : pieces)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes SysEx(size_t size)
{
    Bytes m(size);
    m.front() = 0xF0;
    for (size_t i = 1; i + 1 < size; ++i)
        m[i] = static_cast<unsigned char>(i % 0x80);
    m.back() = 0xF7;
    return m;
}
} // namespace

TEST_F(SplitTest, EveryKindOfMessage)
{
    const Pieces messages = {
        {0x80, 0x3C, 0x00}, {0x91, 0x3C, 0x40}, {0xA2, 0x3C, 0x10}, {0xB3, 0x07, 0x64}, {0xC4, 0x05},
        {0xD5, 0x20},       {0xE6, 0x00, 0x40}, {0xF1, 0x23},       {0xF2, 0x10, 0x20}, {0xF3, 0x02},
        {0xF6},             {0xF8},             {0xFA},             {0xFB},             {0xFC},
        {0xFE},             {0xFF},             {0xF4},             {0xF5},             {0xF9},
        {0xFD},             {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}};
    for (const Bytes& m : messages)
        EXPECT_EQ(SplitPieces(m), Pieces{m}) << "a lone message is one piece, status " << int(m[0]);
    EXPECT_EQ(SplitPieces(Concat(messages)), messages) << "a run of all of them";
}

TEST_F(SplitTest, CutsAsTheProtocolSays)
{
    EXPECT_EQ(SplitPieces({0xF0, 0x01, 0x02, 0xF7, 0x90, 0x3C, 0x40}),
              (Pieces{{0xF0, 0x01, 0x02, 0xF7}, {0x90, 0x3C, 0x40}}));
    EXPECT_EQ(SplitPieces({0xF0}), (Pieces{{0xF0}}));
    EXPECT_EQ(SplitPieces({0xF0, 0x90, 0x3C, 0x40}), (Pieces{{0xF0}, {0x90, 0x3C, 0x40}}))
        << "a SysEx interrupted by a status byte ends before it";
    EXPECT_EQ(SplitPieces({0xF0, 0xF7}), (Pieces{{0xF0, 0xF7}}));
    EXPECT_EQ(SplitPieces({0x90, 0x3C}), (Pieces{{0x90, 0x3C}})) << "a message cut short";
    EXPECT_EQ(SplitPieces({0x3C, 0x40}), (Pieces{{0x3C, 0x40}})) << "data bytes first";
    EXPECT_EQ(SplitPieces({0x90, 0x3C, 0x40, 0x3E, 0x40, 0x80, 0x3C, 0x00}),
              (Pieces{{0x90, 0x3C, 0x40}, {0x3E, 0x40, 0x80, 0x3C, 0x00}}))
        << "no running status: the data bytes take the rest of the run";

    // Real-time bytes inside a SysEx cut it; what follows them starts with a data byte.
    EXPECT_EQ(SplitPieces({0xF0, 0x01, 0xF8, 0x02, 0xF7}), (Pieces{{0xF0, 0x01}, {0xF8}, {0x02, 0xF7}}));
    FInput->SetTimingClock(0);
    EXPECT_EQ(SplitPieces({0xF0, 0x01, 0xF8, 0x02, 0xF7}), (Pieces{{0xF0, 0x01}, {0x02, 0xF7}}));

    FInput->SetActiveSensing(0);
    EXPECT_EQ(Split({0xFE, 0xFE, 0xF8, 0x90, 0x3C, 0x40}), 1);
    EXPECT_EQ(FListener.Got(), (Pieces{{0x90, 0x3C, 0x40}}));
    FInput->SetActiveSensing(1);
    FInput->SetTimingClock(1);
    EXPECT_EQ(Split({0xFE, 0xFE, 0xF8, 0x90, 0x3C, 0x40}), 4);

    // The filters never apply to SysEx, and only to a piece that starts with the filtered byte.
    FInput->SetActiveSensing(0);
    EXPECT_EQ(SplitPieces({0xF0, 0xFE}), (Pieces{{0xF0}}));
    FInput->SetActiveSensing(1);
}

TEST_F(SplitTest, LongSystemExclusive)
{
    const Bytes settings = SysEx(546);
    EXPECT_EQ(SplitPieces(settings), Pieces{settings});

    const Bytes big = SysEx(64 * 1024);
    EXPECT_EQ(SplitPieces(big), Pieces{big});

    Bytes both = big;
    both.insert(both.end(), settings.begin(), settings.end());
    both.push_back(0xF8);
    EXPECT_EQ(SplitPieces(both), (Pieces{big, settings, {0xF8}}));

    // A SysEx that never ends takes the whole run.
    Bytes open(big.begin(), big.end() - 1);
    EXPECT_EQ(SplitPieces(open), Pieces{open});
}

TEST_F(SplitTest, BadInputStaysInBounds)
{
    EXPECT_EQ(Split({}), 0);
    unsigned char one = 0x90;
    EXPECT_EQ(FInput->SplitAndDispatchMidiMessage(0, &one, 0), 0);
    EXPECT_EQ(FInput->SplitAndDispatchMidiMessage(0, &one, -1), 0);
    EXPECT_EQ(FInput->SplitAndDispatchMidiMessage(0, &one, -2147483647 - 1), 0);
    EXPECT_EQ(FInput->SplitAndDispatchMidiMessage(0, nullptr, 16), 0) << "no data, nothing to read";

    EXPECT_EQ(SplitPieces({0xF7}), (Pieces{{0xF7}})) << "an end of exclusive without its start";
    EXPECT_EQ(SplitPieces({0xF7, 0x01, 0x02}), (Pieces{{0xF7}, {0x01, 0x02}}));
    EXPECT_EQ(SplitPieces({0x01}), (Pieces{{0x01}})) << "a stray data byte";
    EXPECT_EQ(SplitPieces({0xF2, 0x01}), (Pieces{{0xF2, 0x01}}));
    EXPECT_EQ(SplitPieces({0xE0}), (Pieces{{0xE0}}));
    EXPECT_EQ(SplitPieces({0xF0, 0x01, 0x02}), (Pieces{{0xF0, 0x01, 0x02}})) << "a SysEx that never ends";
    EXPECT_EQ(SplitPieces({0xF0, 0xF0, 0x01}), (Pieces{{0xF0}, {0xF0, 0x01}}));

    TestMidiFactory factory;
    MidiDeviceDescriptor desc(&factory, 1, 0, "No Listener", "", "", "");
    std::unique_ptr<TMidiInputBase> bare(static_cast<TMidiInputBase*>(factory.CreateDevice(&desc)));
    unsigned char note[3] = {0x90, 0x3C, 0x40};
    EXPECT_EQ(bare->SplitAndDispatchMidiMessage(0, note, 3), -1);
    EXPECT_EQ(bare->SplitAndDispatchMidiMessage(0, nullptr, -1), -1);
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
        const int len = static_cast<int>(rng() % (round % 50 == 0 ? 2000u : 40u));
        Bytes run(static_cast<size_t>(len));
        for (unsigned char& b : run)
        {
            const unsigned pick = rng() % 4;
            b = pick == 0 ? special[rng() % sizeof special] : static_cast<unsigned char>(rng() % (pick == 1 ? 256 : 128));
        }
        const Pieces pieces = SplitPieces(run);

        // Walk the run along the pieces, stepping over the dropped real-time bytes.
        Bytes rebuilt;
        size_t pos = 0;
        for (const Bytes& p : pieces)
        {
            // With the filters on, no piece starts with a filtered byte: each one met here was dropped.
            while (pos < run.size() && filter && (run[pos] == 0xF8 || run[pos] == 0xFE))
                ++pos;
            ASSERT_LE(pos + p.size(), run.size()) << "round " << round;
            ASSERT_TRUE(std::equal(p.begin(), p.end(), run.begin() + static_cast<long>(pos))) << "round " << round;
            const unsigned char first = p[0];
            const size_t restOfRun = run.size() - pos;
            if (first == 0xF0)
            {
                for (size_t i = 1; i + 1 < p.size(); ++i)
                    ASSERT_LT(p[i], 0x80) << "round " << round << ": a SysEx piece holds data bytes only";
                if (p.size() > 1 && p.back() >= 0x80)
                {
                    ASSERT_EQ(p.back(), 0xF7) << "round " << round;
                }
                else if (p.size() < restOfRun)
                {
                    ASSERT_GE(run[pos + p.size()], 0x80) << "round " << round << ": a SysEx stops only at a status byte";
                }
            }
            else
            {
                const size_t expected = first < 0x80 ? restOfRun
                                        : first >= 0xF4 || first == 0xF6 || first == 0xF7 ? 1
                                        : (first & 0xF0) == 0xC0 || (first & 0xF0) == 0xD0 || first == 0xF1 || first == 0xF3
                                            ? 2
                                            : 3;
                ASSERT_EQ(p.size(), std::min(expected, restOfRun))
                    << "round " << round << ", status " << int(first);
                if (filter)
                {
                    ASSERT_TRUE(first != 0xF8 && first != 0xFE) << "round " << round << ": filtered bytes are dropped";
                }
            }
            pos += p.size();
        }
        while (pos < run.size() && filter && (run[pos] == 0xF8 || run[pos] == 0xFE))
            ++pos;
        ASSERT_EQ(pos, run.size()) << "round " << round << ": the pieces cover the run";
    }
}
