// The controller's fifteen programs and four global values, kept as the one 546-byte SysEx
// message that is both the .syx file and what is sent to the controller.
//
// Message layout: 0xF0, fifteen 36-byte program blocks, four global bytes, 0xF7. Program p (1..15)
// starts at 36 * p - 35:
//   +0 marker (p)   +1 type   +2 + 2s pitch of step s   +3 + 2s setting of step s
//   +34 step count  +35 duration
// A "Different Settings" program (type 5) uses the per-step settings and sends pitch 0; every other
// type sends its pitches and its base setting repeated in all sixteen setting bytes. The base
// settings are kept beside the message, since the message has no byte of its own for them.
//
// Values are what the editor's combo boxes show as item id - 1, so NoValue (-1) is what a combo box
// showing no item gives. Writing NoValue, or anything else that is not a SysEx data byte, keeps the
// byte as it was: the message never gains a byte >= 0x80 between its start and end markers.
#pragma once

#include "QuorvaTables.h"

#include <cstdint>

class QuorvaSettings
{
public:
    static constexpr int ProgramCount = 15;
    static constexpr int ProgramBlockSize = 36;
    static constexpr int NoValue = -1;
    static constexpr int DifferentSettingsType = 5;
    // What a program's base setting and the unused setting bytes hold until the user picks one.
    static constexpr int DefaultSetting = 3;

    // The four global bytes; each enumerator is the byte's offset in the message.
    enum class Global
    {
        LoopPortamentoRate = 541,
        StepPortamentoRate = 542,
        OutputType = 543,
        MidiChannel = 544,
    };

    // Single-byte fields of a program block; each enumerator is the offset in the block.
    enum class ProgramField
    {
        Type = 1,
        StepCount = 34,
        Duration = 35,
    };

    QuorvaSettings();

    // Checks a settings message and takes it over; throws Tr::Exception("Not a valid tempolate
    // file: " + reason) and changes nothing when the bytes are no settings message. Afterwards the
    // setting bytes of other programs hold DefaultSetting and the pitches of "Different Settings"
    // programs hold 0; saveToMem writes the real values back.
    void loadFromMem(const unsigned char* data, int size);
    // The refusal of loadFromMem for a size no message has, so a file can be refused before it
    // is read.
    static void checkSize(long long size);
    // Writes the message to send or save; `size` must be QUORVA_TEMPLATE_SIZE_BYTES.
    void saveToMem(unsigned char* data, int size) const;
    // Refuses a message that cannot go out as one SysEx message: a byte >= 0x80 between the
    // markers, which only a loaded file brings in, would end it early or reach the device as other
    // MIDI messages. Throws Tr::Exception naming the first such byte as the editor shows it, and
    // how many more there are.
    static void checkSendable(const unsigned char* data, int size);

    // Offset of program `program`'s block (36 * program - 35), or -1 outside 1..15.
    static int getProgramTemplateIndex(int program);

    // The option table a field's combo box is filled from.
    static QuorvaTable tableOf(Global field);
    static QuorvaTable tableOf(ProgramField field);

    int getGlobalValue(Global field) const;
    void applyGlobalValue(Global field, int value);
    // False when the byte is no row of its table, so its combo box shows no item.
    bool isShown(Global field) const;

    // Program accessors: a program outside 1..15 reads as NoValue and writes nothing.
    int getProgramValue(int program, ProgramField field) const;
    void applyProgramValue(int program, ProgramField field, int value);
    bool isShown(int program, ProgramField field) const;

    int getBaseSetting(int program) const;
    void applyBaseSetting(int program, int value);
    // Pitch bytes of all sixteen steps back to 0, as when a new base setting is chosen.
    void resetSteps(int program);

    // True for a "Different Settings" program: its steps are settings, not pitches.
    bool hasStepSettings(int program) const;
    // The table the program's step combo boxes are filled from: the per-step settings, or the
    // step table paired with the row of its base setting (the first row when it has none).
    QuorvaTable stepTable(int program) const;
    // Step `step` (0..15): the setting byte for a "Different Settings" program, else the pitch.
    int getStep(int program, int step) const;
    void applyStep(int program, int step, int value);

    // The editor's copy of the message: QUORVA_TEMPLATE_SIZE_BYTES bytes.
    const unsigned char* getTemplateData() const { return templateData; }

private:
    static bool isDataByte(int value) { return value >= 0 && value < 0x80; }
    int stepOffset(int program, int step) const;

    unsigned char templateData[QUORVA_TEMPLATE_SIZE_BYTES] {};
    int32_t baseSettings[ProgramCount];
};
