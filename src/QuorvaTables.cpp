#include "QuorvaTables.h"

#include <cstddef>

namespace {

template <std::size_t N>
constexpr int32_t countOf(const QuorvaTableEntry (&)[N])
{
    return static_cast<int32_t>(N);
}

// The step texts name an interval of k half steps from the played note. They are built from
// that one rule at compile time, so the tables below only list offsets and pitch bytes and no
// text can drift from its neighbours.
struct IntervalText
{
    char text[48] {};
    int length = 0;

    constexpr void append(const char* s)
    {
        while (*s != '\0')
            text[length++] = *s++;
    }

    constexpr void append(int n)
    {
        if (n >= 10)
            append(n / 10);
        text[length++] = static_cast<char>('0' + n % 10);
    }
};

// Interval names for 1..11 half steps.
constexpr const char* intervalName(int halfSteps)
{
    constexpr const char* names[] = {"Flat 2nd", "2nd", "Flat 3rd", "3rd", "4th", "Flat 5th",
                                     "5th", "Flat 6th", "6th", "Flat 7th", "Maj.7th"};
    return names[halfSteps - 1];
}

constexpr const char* octavesDown(int octaves)
{
    constexpr const char* names[] = {"Octave Down", "2 Octaves Down", "3 Octaves Down"};
    return names[octaves - 1];
}

constexpr IntervalText makeIntervalText(int k)
{
    IntervalText t;
    if (k == 0)
    {
        t.append("Unison");
        return t;
    }
    const int a = k < 0 ? -k : k;
    if (k > 0)
    {
        if (a < 12)
            t.append(intervalName(a));
        else if (a == 12)
            t.append("Octave");
        else if (a < 24)
        {
            t.append("Octave + ");
            t.append(intervalName(a - 12));
        }
        else
            t.append("2 Octaves");
        t.append(" || +");
    }
    else
    {
        // Below the note the interval is counted up from the octave underneath it.
        if (a % 12 == 0)
            t.append(octavesDown(a / 12));
        else
        {
            t.append(intervalName(12 - a % 12));
            t.append(", ");
            t.append(octavesDown(a / 12 + 1));
        }
        t.append(" || -");
    }
    t.append(a);
    t.append(a == 1 ? " half step" : " half steps");
    return t;
}

template <int K>
struct Interval
{
    static_assert(K >= -36 && K <= 24, "no interval text for this offset");
    static constexpr IntervalText name = makeIntervalText(K);
};

template <int K>
constexpr QuorvaTableEntry step(int32_t value)
{
    return {Interval<K>::name.text, value};
}

} // namespace

int QuorvaTable::findRow(int value) const
{
    for (int row = 0; table != nullptr && row < count; ++row)
        if (table[row].value == value)
            return row;
    return -1;
}

const QuorvaTableEntry QuorvaProgramTable[] = {
    {"Program 1", 1},   {"Program 2", 2},   {"Program 3", 3},   {"Program 4", 4},
    {"Program 5", 5},   {"Program 6", 6},   {"Program 7", 7},   {"Program 8", 8},
    {"Program 9", 9},   {"Program 10", 10}, {"Program 11", 11}, {"Program 12", 12},
    {"Program 13", 13}, {"Program 14", 14}, {"Program 15", 15},
};
const int32_t QuorvaProgramCount = countOf(QuorvaProgramTable);

const QuorvaTableEntry QuorvaProgramTypeTable[] = {
    {"Loop Portamento", 2},     {"Loop, No Portamento", 0}, {"Step Portamento", 3},
    {"Step, No Portamento", 1}, {"Different Settings", 5},
};
const int32_t QuorvaProgramTypeCount = countOf(QuorvaProgramTypeTable);

const QuorvaTableEntry QuorvaStepCountTable[] = {
    {"2 Steps", 2},   {"3 Steps", 3},   {"4 Steps", 4},   {"5 Steps", 5},   {"6 Steps", 6},
    {"7 Steps", 7},   {"8 Steps", 8},   {"9 Steps", 9},   {"10 Steps", 10}, {"11 Steps", 11},
    {"12 Steps", 12}, {"13 Steps", 13}, {"14 Steps", 14}, {"15 Steps", 15}, {"16 Steps", 16},
};
const int32_t QuorvaStepCountCount = countOf(QuorvaStepCountTable);

// The per-step settings of a "Different Settings" program are these fifteen plus three more.
#define QUORVA_BASE_SETTING_ROWS           \
    {"2 Octaves Up", 2},                   \
    {"Octave Up", 3},                      \
    {"Octave Down", 4},                    \
    {"2 Octaves Down", 5},                 \
    {"Dive Bomb", 6},                      \
    {"Drop Tune", 7},                      \
    {"Octave Down/Octave Up Harmony", 16}, \
    {"5th Down/4th Down Harmony", 15},     \
    {"4th Down/3rd Down Harmony", 14},     \
    {"5th Up/7th Up Harmony", 13},         \
    {"5th Up/6th Up Harmony", 12},         \
    {"4th Up/5th Up Harmony", 11},         \
    {"3rd Up/4th Up Harmony", 10},         \
    {"flat 3rd Up/3rd Up Harmony", 9},     \
    {"2nd Up/3rd Up Harmony", 8}

const QuorvaTableEntry QuorvaBaseSettingTable[] = {QUORVA_BASE_SETTING_ROWS};
const int32_t QuorvaBaseSettingCount = countOf(QuorvaBaseSettingTable);

const QuorvaTableEntry QuorvaSteps2OctavesUpTable[] = {
    step<0>(0), step<1>(3), step<2>(5), step<3>(8), step<4>(11), step<5>(14), step<6>(18), step<7>(21),
    step<8>(25), step<9>(29), step<10>(33), step<11>(38), step<12>(43), step<13>(48), step<14>(53),
    step<15>(59), step<16>(65), step<17>(71), step<18>(78), step<19>(85), step<20>(93), step<21>(101),
    step<22>(109), step<23>(118), step<24>(127)
};
const int32_t QuorvaSteps2OctavesUpCount = countOf(QuorvaSteps2OctavesUpTable);

const QuorvaTableEntry QuorvaStepsOctaveUpTable[] = {
    step<0>(0), step<1>(8), step<2>(16), step<3>(24), step<4>(33), step<5>(43), step<6>(53),
    step<7>(64), step<8>(75), step<9>(87), step<10>(100), step<11>(114), step<12>(127)
};
const int32_t QuorvaStepsOctaveUpCount = countOf(QuorvaStepsOctaveUpTable);

const QuorvaTableEntry QuorvaStepsOctaveDownTable[] = {
    step<0>(0), step<-1>(15), step<-2>(28), step<-3>(41), step<-4>(53), step<-5>(64), step<-6>(75),
    step<-7>(85), step<-8>(95), step<-9>(104), step<-10>(112), step<-11>(120), step<-12>(127)
};
const int32_t QuorvaStepsOctaveDownCount = countOf(QuorvaStepsOctaveDownTable);

const QuorvaTableEntry QuorvaSteps2OctavesDownTable[] = {
    step<0>(0), step<-1>(10), step<-2>(19), step<-3>(27), step<-4>(35), step<-5>(43), step<-6>(50),
    step<-7>(57), step<-8>(63), step<-9>(69), step<-10>(75), step<-11>(80), step<-12>(85),
    step<-13>(90), step<-14>(94), step<-15>(99), step<-16>(103), step<-17>(107), step<-18>(110),
    step<-19>(114), step<-20>(117), step<-21>(120), step<-22>(123), step<-23>(125), step<-24>(127)
};
const int32_t QuorvaSteps2OctavesDownCount = countOf(QuorvaSteps2OctavesDownTable);

const QuorvaTableEntry QuorvaStepsDiveBombTable[] = {
    step<0>(0), step<-1>(8), step<-2>(16), step<-3>(23), step<-4>(30), step<-5>(37), step<-6>(43),
    step<-7>(49), step<-8>(54), step<-9>(59), step<-10>(64), step<-11>(69), step<-12>(73),
    step<-13>(77), step<-14>(81), step<-15>(85), step<-16>(88), step<-17>(91), step<-18>(95),
    step<-19>(97), step<-20>(100), step<-21>(103), step<-22>(105), step<-23>(108), step<-24>(110),
    step<-25>(111), step<-26>(113), step<-27>(115), step<-28>(117), step<-29>(119), step<-30>(120),
    step<-31>(122), step<-32>(123), step<-33>(124), step<-34>(126), step<-36>(127)
};
const int32_t QuorvaStepsDiveBombCount = countOf(QuorvaStepsDiveBombTable);

const QuorvaTableEntry QuorvaStepsDropTuneTable[] = {
    step<0>(0), step<-1>(63), step<-2>(127)
};
const int32_t QuorvaStepsDropTuneCount = countOf(QuorvaStepsDropTuneTable);

const QuorvaTableEntry QuorvaStepsOctaveHarmonyTable[] = {
    step<-12>(0), step<-11>(2), step<-10>(5), step<-9>(8), step<-8>(11), step<-7>(14), step<-6>(18),
    step<-5>(21), step<-4>(25), step<-3>(29), step<-2>(33), step<-1>(38), step<0>(43), step<1>(48),
    step<2>(53), step<3>(59), step<4>(64), step<5>(71), step<6>(78), step<7>(85), step<8>(93),
    step<9>(100), step<10>(109), step<11>(118), step<12>(127)
};
const int32_t QuorvaStepsOctaveHarmonyCount = countOf(QuorvaStepsOctaveHarmonyTable);

const QuorvaTableEntry QuorvaSteps57HarmonyTable[] = {
    step<7>(0), step<8>(42), step<9>(87), step<10>(127)
};
const int32_t QuorvaSteps57HarmonyCount = countOf(QuorvaSteps57HarmonyTable);

const QuorvaTableEntry QuorvaSteps56HarmonyTable[] = {
    step<7>(0), step<8>(63), step<9>(127)
};
const int32_t QuorvaSteps56HarmonyCount = countOf(QuorvaSteps56HarmonyTable);

const QuorvaTableEntry QuorvaSteps45HarmonyTable[] = {
    step<5>(0), step<6>(63), step<7>(127)
};
const int32_t QuorvaSteps45HarmonyCount = countOf(QuorvaSteps45HarmonyTable);

const QuorvaTableEntry QuorvaSteps34HarmonyTable[] = {
    step<4>(0), step<5>(127)
};
const int32_t QuorvaSteps34HarmonyCount = countOf(QuorvaSteps34HarmonyTable);

const QuorvaTableEntry QuorvaSteps33HarmonyTable[] = {
    step<3>(0), step<4>(127)
};
const int32_t QuorvaSteps33HarmonyCount = countOf(QuorvaSteps33HarmonyTable);

const QuorvaTableEntry QuorvaSteps23HarmonyTable[] = {
    step<2>(0), step<3>(63), step<4>(127)
};
const int32_t QuorvaSteps23HarmonyCount = countOf(QuorvaSteps23HarmonyTable);

const QuorvaTableEntry QuorvaSteps54HarmonyTable[] = {
    {"4th, Octave Down (5th Down) || -7 half steps", 0},
    {"Flat 5th, Octave Down || -6 half steps", 63},
    {"5th, Octave Down (4th Down) || -5 half steps", 127},
};
const int32_t QuorvaSteps54HarmonyCount = countOf(QuorvaSteps54HarmonyTable);

const QuorvaTableEntry QuorvaSteps43HarmonyTable[] = {
    {"5th, Octave Down (4th Down) || -5 half steps", 0},
    {"Flat 6th, Octave Down (3rd Down) || -4 half steps", 63},
    {"6th, Octave Down (flat 3rd Down) || -3 half steps", 127},
};
const int32_t QuorvaSteps43HarmonyCount = countOf(QuorvaSteps43HarmonyTable);

// The counts are constants of this file, so the pairing is complete before any code runs.
const QuorvaTable QuorvaBaseSettingStepTable[] = {
    {QuorvaSteps2OctavesUpTable, QuorvaSteps2OctavesUpCount},
    {QuorvaStepsOctaveUpTable, QuorvaStepsOctaveUpCount},
    {QuorvaStepsOctaveDownTable, QuorvaStepsOctaveDownCount},
    {QuorvaSteps2OctavesDownTable, QuorvaSteps2OctavesDownCount},
    {QuorvaStepsDiveBombTable, QuorvaStepsDiveBombCount},
    {QuorvaStepsDropTuneTable, QuorvaStepsDropTuneCount},
    {QuorvaStepsOctaveHarmonyTable, QuorvaStepsOctaveHarmonyCount},
    {QuorvaSteps54HarmonyTable, QuorvaSteps54HarmonyCount},
    {QuorvaSteps43HarmonyTable, QuorvaSteps43HarmonyCount},
    {QuorvaSteps57HarmonyTable, QuorvaSteps57HarmonyCount},
    {QuorvaSteps56HarmonyTable, QuorvaSteps56HarmonyCount},
    {QuorvaSteps45HarmonyTable, QuorvaSteps45HarmonyCount},
    {QuorvaSteps34HarmonyTable, QuorvaSteps34HarmonyCount},
    {QuorvaSteps33HarmonyTable, QuorvaSteps33HarmonyCount},
    {QuorvaSteps23HarmonyTable, QuorvaSteps23HarmonyCount},
};
const int32_t QuorvaBaseSettingStepCount =
    static_cast<int32_t>(sizeof(QuorvaBaseSettingStepTable) / sizeof(QuorvaBaseSettingStepTable[0]));
static_assert(sizeof(QuorvaBaseSettingStepTable) / sizeof(QuorvaBaseSettingStepTable[0])
                  == sizeof(QuorvaBaseSettingTable) / sizeof(QuorvaBaseSettingTable[0]),
              "every base setting needs its step table");

const QuorvaTableEntry QuorvaStepsDifferentSettingTable[] = {
    {"Shallow Detune", 0}, {"Deep Detune", 1}, QUORVA_BASE_SETTING_ROWS, {"Effect Off", 17},
};
#undef QUORVA_BASE_SETTING_ROWS
const int32_t QuorvaStepsDifferentSettingCount = countOf(QuorvaStepsDifferentSettingTable);

const QuorvaTableEntry QuorvaTempoTable[] = {
    {"0.24", 17}, {"0.25", 18}, {"0.26", 19}, {"0.27", 20}, {"0.28", 21}, {"0.29", 22},
    {"0.30", 23}, {"0.31", 24}, {"0.32", 25}, {"0.33", 26}, {"0.35", 27}, {"0.36", 28},
    {"0.37", 29}, {"0.39", 30}, {"0.40", 31}, {"0.41", 32}, {"0.43", 33}, {"0.45", 34},
    {"0.46", 35}, {"0.48", 36}, {"0.50", 37}, {"0.52", 38}, {"0.53", 39}, {"0.55", 40},
    {"0.57", 41}, {"0.60", 42}, {"0.62", 43}, {"0.64", 44}, {"0.66", 45}, {"0.69", 46},
    {"0.71", 47}, {"0.74", 48}, {"0.77", 49}, {"0.80", 50}, {"0.83", 51}, {"0.86", 52},
    {"0.89", 53}, {"0.92", 54}, {"0.95", 55}, {"0.99", 56}, {"1.03", 57}, {"1.06", 58},
    {"1.10", 59}, {"1.14", 60}, {"1.19", 61}, {"1.23", 62}, {"1.28", 63}, {"1.32", 64},
    {"1.37", 65}, {"1.42", 66}, {"1.48", 67}, {"1.53", 68}, {"1.59", 69}, {"1.64", 70},
    {"1.71", 71}, {"1.77", 72}, {"1.83", 73}, {"1.90", 74}, {"1.97", 75}, {"2.04", 76},
    {"2.12", 77}, {"2.20", 78}, {"2.28", 79}, {"2.36", 80}, {"2.45", 81}, {"2.54", 82},
    {"2.64", 83}, {"2.73", 84}, {"2.83", 85}, {"2.94", 86}, {"3.05", 87}, {"3.16", 88},
    {"3.28", 89}, {"3.40", 90}, {"3.52", 91}, {"3.65", 92}, {"3.79", 93}, {"3.93", 94},
    {"4.07", 95}, {"4.22", 96}, {"4.38", 97}, {"4.54", 98}, {"4.71", 99}, {"4.88", 100},
    {"5.06", 101}, {"5.25", 102}, {"5.44", 103}, {"5.64", 104}, {"5.85", 105}, {"6.07", 106},
    {"6.29", 107}, {"6.52", 108}, {"6.76", 109}, {"7.01", 110}, {"7.27", 111}, {"7.54", 112},
    {"7.82", 113}, {"8.11", 114}, {"8.41", 115}, {"8.72", 116}, {"9.04", 117}, {"9.37", 118},
    {"9.72", 119}, {"10.08", 120}, {"10.45", 121}, {"10.84", 122}, {"11.24", 123}, {"11.65", 124},
    {"12.08", 125}, {"12.53", 126}, {"12.99", 127},
};
const int32_t QuorvaTempoCount = countOf(QuorvaTempoTable);

const QuorvaTableEntry QuorvaPortamentoRateLoopTable[] = {
    {"fast Loop Portamento", 17},
    {"medium Loop Portamento", 25},
    {"slow Loop Portamento", 45},
};
const int32_t QuorvaPortamentoRateLoopCount = countOf(QuorvaPortamentoRateLoopTable);

const QuorvaTableEntry QuorvaPortamentoRateStepTable[] = {
    {"fast Step Portamento", 25},
    {"medium Step Portamento", 50},
    {"slow Step Portamento", 80},
};
const int32_t QuorvaPortamentoRateStepCount = countOf(QuorvaPortamentoRateStepTable);

const QuorvaTableEntry QuorvaOutputTypeTable[] = {
    {"Whammy Only", 4},
    {"Whammy & Clock", 5},
    {"Clock Only", 6},
};
const int32_t QuorvaOutputTypeCount = countOf(QuorvaOutputTypeTable);

// The controller has no channel 16: channels 1..15 are stored as 0..14.
const QuorvaTableEntry QuorvaMIDIChannelTable[] = {
    {"1", 0},  {"2", 1},   {"3", 2},   {"4", 3},   {"5", 4},   {"6", 5},   {"7", 6},   {"8", 7},
    {"9", 8},  {"10", 9},  {"11", 10}, {"12", 11}, {"13", 12}, {"14", 13}, {"15", 14},
};
const int32_t QuorvaMIDIChannelCount = countOf(QuorvaMIDIChannelTable);
