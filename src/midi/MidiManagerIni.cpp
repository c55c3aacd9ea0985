// Which ports were in use, kept across runs in the ini sections "MIDI.in" and "MIDI.out": every
// open or waiting entry by display name and options. Loaded names wait to open until their ports
// are present.
#include "midi/MidiManager.h"

#include "core/TrIniFile.h"
#include "core/TrUtil.h"

#include <memory>

namespace Tr
{
const std::string SECTION_MIDI_IN = "MIDI.in";
const std::string SECTION_MIDI_OUT = "MIDI.out";
const std::string IDENT_OPTIONS = "Options";

void MidiManager::saveToIniFile(TIniFile& ini)
{
    if (!FPersistent)
        return;
    SaveList(ini, 1);
    SaveList(ini, 0);
}

void MidiManager::SaveList(TIniFile& ini, unsigned char isInput)
{
    const std::string& section = isInput ? SECTION_MIDI_IN : SECTION_MIDI_OUT;
    const int count = GetDevCount(isInput);
    int k = 0;
    for (int i = 0; i < count; ++i)
    {
        MidiManagerDev* e = Entry(i, isInput);
        if (e->FPending || e->IsOpen())
            e->saveToIniFile(ini, k++);
    }
    // Entries of an earlier, longer save would otherwise read back as ports in use.
    for (;; ++k)
    {
        const std::string n = UString::FromInt(k);
        if (!ini.ValueExists(section, IDENT_NAME + n))
            break;
        ini.DeleteKey(section, IDENT_NAME + n);
        ini.DeleteKey(section, IDENT_OPTIONS + n);
    }
}

void MidiManager::loadFromIniFile(TIniFile& ini)
{
    if (!FPersistent)
        return;
    LoadList(ini, 1);
    LoadList(ini, 0);
}

void MidiManager::LoadList(TIniFile& ini, unsigned char isInput)
{
    const std::string& section = isInput ? SECTION_MIDI_IN : SECTION_MIDI_OUT;
    EntryIndex index(*this, isInput);
    for (int i = 0; ini.ValueExists(section, IDENT_NAME + UString::FromInt(i)); ++i)
    {
        const int n = EntryCount(isInput);
        std::unique_ptr<MidiManagerDev> temp;
        if (isInput)
            temp = std::make_unique<MMDevIn>(nullptr, n);
        else
            temp = std::make_unique<MMDevOut>(nullptr, n);
        temp->loadFromIniFile(ini, i);
        // A damaged entry without a name can stand for no port; it is dropped rather than kept
        // as a nameless waiting entry that every later save would write again.
        if (Trim(temp->GetName()).empty())
            continue;
        // Only the name and type code count: an entry found keeps its own flags.
        const unsigned int type = temp->FDescriptor->GetType();
        int idx = index.ByNameAndType(temp->GetName(), type);
        if (idx < 0)
            idx = AppendPlaceholder(temp->GetName(), isInput, type);
        Entry(idx, isInput)->FPending = 1;
    }
}

int MidiManager::GetInDevIndexByName(const std::string& name, unsigned int type, unsigned char create)
{
    return IndexByNameAndType(name, 1, type, create);
}

int MidiManager::GetOutDevIndexByName(const std::string& name, unsigned int type, unsigned char create)
{
    return IndexByNameAndType(name, 0, type, create);
}

int MidiManager::GetDevIndex(const std::string& name, unsigned char isInput, unsigned int type, unsigned char create)
{
    ValidateLists();
    return IndexByNameAndType(name, isInput, type, create);
}

int MidiManager::IndexByNameAndType(const std::string& name, unsigned char isInput, unsigned int type,
                                    unsigned char create)
{
    for (int i = EntryCount(isInput) - 1; i >= 0; --i)
        if (HasNameAndType(Entry(i, isInput), name, type))
            return i;
    if (!create || name.empty())
        return -1;
    return AppendPlaceholder(name, isInput, type);
}

bool MidiManager::HasNameAndType(MidiManagerDev* e, const std::string& name, unsigned int type)
{
    const unsigned int entryType = e->FDescriptor->GetType();
    if (entryType != type)
        return false;
    return CompareText(e->GetName(), name) == 0
           || (entryType == PortTypeVMID && e->FDev && e->FDev->GetDescriptor()->GetName() == name);
}

int MidiManager::AppendPlaceholder(const std::string& name, unsigned char isInput, unsigned int type)
{
    const int index = EntryCount(isInput);
    if (isInput)
        FInDevs.Add(new MMDevIn(type, index, name));
    else
        FOutDevs.Add(new MMDevOut(type, index, name));
    return index;
}
} // namespace Tr
