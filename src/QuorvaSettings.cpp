#include "QuorvaSettings.h"

#include "core/TrAssert.h"
#include "core/TrException.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

constexpr unsigned char SysExStart = 0xF0;
constexpr unsigned char SysExEnd = 0xF7;
constexpr int PitchOffset = 2;
constexpr int SettingOffset = 3;

int pitchIndex(int block, int step)
{
    return block + PitchOffset + 2 * step;
}

int settingIndex(int block, int step)
{
    return block + SettingOffset + 2 * step;
}

[[noreturn]] void refuse(const char* reason)
{
    throw Tr::Exception(std::string("Not a valid tempolate file: ") + reason);
}

// Byte `index` of a message (1..544) as the user finds it in the editor. The setting bytes of a
// program that is not "Different Settings" all repeat its base setting.
std::string placeOf(const unsigned char* data, int index)
{
    using Global = QuorvaSettings::Global;
    using Field = QuorvaSettings::ProgramField;
    switch (Global(index))
    {
    case Global::LoopPortamentoRate: return "the loop portamento rate";
    case Global::StepPortamentoRate: return "the step portamento rate";
    case Global::OutputType: return "the output type";
    case Global::MidiChannel: return "the MIDI base channel";
    }
    const int program = (index - 1) / QuorvaSettings::ProgramBlockSize + 1;
    const int b = QuorvaSettings::getProgramTemplateIndex(program);
    const bool perStep = data[b + static_cast<int>(Field::Type)] == QuorvaSettings::DifferentSettingsType;
    const int offset = index - b;
    std::string field;
    switch (Field(offset))
    {
    case Field::Type: field = "program type"; break;
    case Field::StepCount: field = "step count"; break;
    case Field::Duration: field = "duration"; break;
    default:
        if (offset == 0)
            field = "program number";
        else if ((offset - PitchOffset) % 2 == 0)
            field = "step " + std::to_string((offset - PitchOffset) / 2 + 1) + (perStep ? " pitch" : "");
        else
            field = perStep ? "step " + std::to_string((offset - SettingOffset) / 2 + 1) : "base setting";
    }
    return "program " + std::to_string(program) + ", " + field;
}

} // namespace

QuorvaSettings::QuorvaSettings()
{
    std::fill(std::begin(baseSettings), std::end(baseSettings), DefaultSetting);
}

int QuorvaSettings::getProgramTemplateIndex(int program)
{
    if (program < 1 || program > ProgramCount)
        return -1;
    return ProgramBlockSize * program - (ProgramBlockSize - 1);
}

void QuorvaSettings::checkSize(long long size)
{
    if (size != QUORVA_TEMPLATE_SIZE_BYTES)
        refuse("wrong size");
}

void QuorvaSettings::loadFromMem(const unsigned char* data, int size)
{
    checkSize(size);
    if (data == nullptr)
        refuse("wrong size");
    if (data[0] != SysExStart || data[QUORVA_TEMPLATE_SIZE_BYTES - 1] != SysExEnd)
        refuse("MIDI markers missing");
    for (int p = 1; p <= ProgramCount; ++p)
        if (data[getProgramTemplateIndex(p)] != p)
            refuse("invalid program marker");

    std::memcpy(templateData, data, sizeof templateData);
    for (int p = 1; p <= ProgramCount; ++p)
    {
        const int b = getProgramTemplateIndex(p);
        if (templateData[b + static_cast<int>(ProgramField::Type)] == DifferentSettingsType)
        {
            baseSettings[p - 1] = DefaultSetting;
            for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
                templateData[pitchIndex(b, s)] = 0;
        }
        else
        {
            // The file repeats the base setting in every step; step 1's copy is the one we keep.
            baseSettings[p - 1] = templateData[settingIndex(b, 0)];
            for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
                templateData[settingIndex(b, s)] = DefaultSetting;
        }
    }
}

void QuorvaSettings::saveToMem(unsigned char* data, int size) const
{
    TR_ASSERT(size == QUORVA_TEMPLATE_SIZE_BYTES);
    std::memcpy(data, templateData, sizeof templateData);
    data[0] = SysExStart;
    data[QUORVA_TEMPLATE_SIZE_BYTES - 1] = SysExEnd;
    for (int p = 1; p <= ProgramCount; ++p)
        data[getProgramTemplateIndex(p)] = static_cast<unsigned char>(p);

    for (int p = 1; p <= ProgramCount; ++p)
    {
        const int b = getProgramTemplateIndex(p);
        const int base = baseSettings[p - 1];
        if (data[b + static_cast<int>(ProgramField::Type)] == DifferentSettingsType)
        {
            for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
                data[pitchIndex(b, s)] = 0;
        }
        else if (isDataByte(base))
        {
            for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
                data[settingIndex(b, s)] = static_cast<unsigned char>(base);
        }
        else
        {
            // Only a loaded file can leave a base setting that is no data byte, and it carried it
            // in step 1 alone: put it back there rather than spread it over all sixteen steps.
            data[settingIndex(b, 0)] = static_cast<unsigned char>(base);
        }
    }
}

void QuorvaSettings::checkSendable(const unsigned char* data, int size)
{
    TR_ASSERT(size == QUORVA_TEMPLATE_SIZE_BYTES);
    const unsigned char* const end = data + QUORVA_TEMPLATE_SIZE_BYTES - 1;
    const auto high = [](unsigned char b) { return !isDataByte(b); };
    const unsigned char* const found = std::find_if(data + 1, end, high);
    if (found == end)
        return;
    const int index = static_cast<int>(found - data);
    char value[8];
    std::snprintf(value, sizeof value, "0x%02X", *found);
    std::string text = std::string("The value ") + value + " of " + placeOf(data, index) + " (byte " +
                       std::to_string(index + 1) + " of " + std::to_string(QUORVA_TEMPLATE_SIZE_BYTES) +
                       ") is above 0x7F, the highest value MIDI can carry.";
    const long more = std::count_if(found + 1, end, high);
    if (more == 1)
        text += " So is 1 more value.";
    else if (more > 1)
        text += " So are " + std::to_string(more) + " more values.";
    throw Tr::Exception(text);
}

QuorvaTable QuorvaSettings::tableOf(Global field)
{
    switch (field)
    {
    case Global::LoopPortamentoRate: return {QuorvaPortamentoRateLoopTable, QuorvaPortamentoRateLoopCount};
    case Global::StepPortamentoRate: return {QuorvaPortamentoRateStepTable, QuorvaPortamentoRateStepCount};
    case Global::OutputType: return {QuorvaOutputTypeTable, QuorvaOutputTypeCount};
    case Global::MidiChannel: return {QuorvaMIDIChannelTable, QuorvaMIDIChannelCount};
    }
    return {nullptr, 0};
}

QuorvaTable QuorvaSettings::tableOf(ProgramField field)
{
    switch (field)
    {
    case ProgramField::Type: return {QuorvaProgramTypeTable, QuorvaProgramTypeCount};
    case ProgramField::StepCount: return {QuorvaStepCountTable, QuorvaStepCountCount};
    case ProgramField::Duration: return {QuorvaTempoTable, QuorvaTempoCount};
    }
    return {nullptr, 0};
}

int QuorvaSettings::getGlobalValue(Global field) const
{
    return templateData[static_cast<int>(field)];
}

void QuorvaSettings::applyGlobalValue(Global field, int value)
{
    if (isDataByte(value))
        templateData[static_cast<int>(field)] = static_cast<unsigned char>(value);
}

bool QuorvaSettings::isShown(Global field) const
{
    return tableOf(field).findRow(getGlobalValue(field)) >= 0;
}

int QuorvaSettings::getProgramValue(int program, ProgramField field) const
{
    const int b = getProgramTemplateIndex(program);
    return b < 0 ? NoValue : templateData[b + static_cast<int>(field)];
}

void QuorvaSettings::applyProgramValue(int program, ProgramField field, int value)
{
    const int b = getProgramTemplateIndex(program);
    if (b >= 0 && isDataByte(value))
        templateData[b + static_cast<int>(field)] = static_cast<unsigned char>(value);
}

bool QuorvaSettings::isShown(int program, ProgramField field) const
{
    const int value = getProgramValue(program, field);
    return value != NoValue && tableOf(field).findRow(value) >= 0;
}

int QuorvaSettings::getBaseSetting(int program) const
{
    return getProgramTemplateIndex(program) < 0 ? NoValue : baseSettings[program - 1];
}

void QuorvaSettings::applyBaseSetting(int program, int value)
{
    if (getProgramTemplateIndex(program) >= 0 && isDataByte(value))
        baseSettings[program - 1] = value;
}

void QuorvaSettings::resetSteps(int program)
{
    const int b = getProgramTemplateIndex(program);
    if (b < 0)
        return;
    for (int s = 0; s < QUORVA_STEP_COUNT; ++s)
        templateData[pitchIndex(b, s)] = 0;
}

bool QuorvaSettings::hasStepSettings(int program) const
{
    return getProgramValue(program, ProgramField::Type) == DifferentSettingsType;
}

QuorvaTable QuorvaSettings::stepTable(int program) const
{
    if (getProgramTemplateIndex(program) < 0)
        return {nullptr, 0};
    if (hasStepSettings(program))
        return {QuorvaStepsDifferentSettingTable, QuorvaStepsDifferentSettingCount};
    const QuorvaTable baseTable {QuorvaBaseSettingTable, QuorvaBaseSettingCount};
    const int row = std::max(0, baseTable.findRow(baseSettings[program - 1]));
    return QuorvaBaseSettingStepTable[row];
}

int QuorvaSettings::stepOffset(int program, int step) const
{
    TR_ASSERT(step >= 0 && step < QUORVA_STEP_COUNT);
    const int b = getProgramTemplateIndex(program);
    if (b < 0)
        return -1;
    return hasStepSettings(program) ? settingIndex(b, step) : pitchIndex(b, step);
}

int QuorvaSettings::getStep(int program, int step) const
{
    const int index = stepOffset(program, step);
    return index < 0 ? NoValue : templateData[index];
}

void QuorvaSettings::applyStep(int program, int step, int value)
{
    const int index = stepOffset(program, step);
    if (index >= 0 && isDataByte(value))
        templateData[index] = static_cast<unsigned char>(value);
}
