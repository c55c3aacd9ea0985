#include "midi/MidiManagerDev.h"

#include "core/TrAssert.h"
#include "core/TrIniFile.h"
#include "core/TrUtil.h"
#include "midi/MidiManager.h"
#include "midi/MidiRouter.h"

namespace Tr
{
namespace
{
std::string Flag(bool on)
{
    return on ? "T" : "F";
}

// The option letters of the back ends without a factory here come before the type code itself;
// they only decide the type of values written before the code was added.
std::string TypeOptions(unsigned int type)
{
    return Flag(type == PortTypeVMID) + Flag(type == PortTypeIntM) + IntToHex(static_cast<int>(type), 8);
}

unsigned int TypeFromOptions(const std::string& opts, std::size_t first)
{
    unsigned int type = PortTypeMIDI;
    if (opts.size() > first && opts[first] == 'T')
        type = PortTypeVMID;
    if (opts.size() > first + 1 && opts[first + 1] == 'T')
        type = PortTypeIntM;
    if (opts.size() >= first + 10)
        type = static_cast<unsigned int>(HexToIntPos(opts, static_cast<int>(first) + 3, 8));
    return type;
}
} // namespace

// ---- MidiManagerDev --------------------------------------------------------------------------

MidiManagerDev::MidiManagerDev(int index) : FIndex(index), FDescriptor(std::make_unique<MidiDeviceDescriptor>()) {}

MidiManagerDev::MidiManagerDev(MidiDeviceDescriptor* d, int index)
    : FIndex(index), FDescriptor(d ? d->Clone() : new MidiDeviceDescriptor())
{
}

MidiManagerDev::~MidiManagerDev()
{
    FAliases.Clear();
    // The port object's own destructor closes it.
    FDev.reset();
}

void MidiManagerDev::AssignFrom(const MidiManagerDev& o)
{
    FIndex = o.FIndex;
    SetDescriptor(o.FDescriptor.get());
    FSeen = 0;
    FPending = o.FPending;
    FExists = o.FExists;
    FAliases.Clear();
    for (TMidiAlias* a : o.FAliases)
        FAliases.Add(a);
}

void MidiManagerDev::SetDescriptor(MidiDeviceDescriptor* d)
{
    if (d == nullptr)
        return;
    if (!FDescriptor->IsEqual(d))
        FDescriptor.reset(d->Clone());
    if (!FDev)
        return;
    if (FDev->GetDescriptor()->GetType() == d->GetType())
        FDev->SetDescriptor(d);
    else
        FDev.reset();
}

void MidiManagerDev::SetDescriptor(unsigned int type, unsigned char isInput, const std::string& name)
{
    MidiDeviceFactory* factory = MidiManager::instance()->GetFactory(type);
    FDescriptor = std::make_unique<MidiDeviceDescriptor>(factory, isInput, -1, name, "", "", "");
}

void MidiManagerDev::AdoptDevice(TMidiDeviceBase* dev)
{
    FDev.reset(dev);
    dev->UserObject = this;
    dev->UserIndex = FIndex;
}

void MidiManagerDev::InstallDevice(TMidiDeviceBase* dev)
{
    dev->UserObject = this;
    dev->UserIndex = FIndex;
    // The entry takes the descriptor the factory gave its port object.
    SetDescriptor(dev->GetDescriptor());
    FDev.reset(dev);
}

void MidiManagerDev::DropDevice()
{
    if (!FDev)
        return;
    FDev->Close();
    FDev.reset();
}

void MidiManagerDev::ReplaceDevice(TMidiDeviceBase* dev)
{
    DropDevice();
    if (dev == nullptr)
        return;
    AdoptDevice(dev);
    SetDescriptor(FDescriptor.get());
}

void MidiManagerDev::BindAliases(TAliasType type)
{
    // An absent entry keeps its old list; the manager has unbound those aliases already.
    if (!FExists)
        return;
    TMidiAliasManager::instance()->FillAliasListByDevice(GetName(), type, FAliases);
    for (int i = FAliases.Count() - 1; i >= 0; --i)
        FAliases[i]->FUserID = FIndex;
}

TMidiDeviceBase* MidiManagerDev::GetDev()
{
    if (!FDev)
        CreateDevice();
    return FDev.get();
}

// ---- MMDevIn ---------------------------------------------------------------------------------

MMDevIn::MMDevIn(MidiDeviceDescriptor* d, int index) : MidiManagerDev(d, index) {}

MMDevIn::MMDevIn(unsigned int type, int index, const std::string& name) : MidiManagerDev(index)
{
    MidiManagerDev::SetDescriptor(type, 1, name);
}

MMDevIn::~MMDevIn()
{
    FThruList.Clear();
}

void MMDevIn::CreateDevice()
{
    TR_ASSERT(MidiManager::IsInstanceAllocated());
    DropDevice();
    TMidiDeviceBase* dev = FDescriptor->CreateInputDevice();
    if (dev == nullptr)
        return;
    auto* input = static_cast<TMidiInputBase*>(dev);
    input->SetDataListener(MidiManager::instance());
    input->SetActiveSensing(FActiveSensing);
    input->SetTimingClock(FTimingClock);
    InstallDevice(dev);
}

void MMDevIn::RebuildAliasList()
{
    BindAliases(aliasMidiIn);
}

void MMDevIn::RebuildThruList()
{
    // An absent input keeps its old thru list.
    if (FExists)
        TMidiRouter::instance()->FRoutes.GetOutAliasesByInUserID(FIndex, FThruList);
}

void MMDevIn::SetActiveSensing(unsigned char on)
{
    if (FActiveSensing == on)
        return;
    FActiveSensing = on;
    if (FDev)
        static_cast<TMidiInputBase*>(FDev.get())->SetActiveSensing(on);
}

void MMDevIn::SetTimingClock(unsigned char on)
{
    if (FTimingClock == on)
        return;
    FTimingClock = on;
    if (FDev)
        static_cast<TMidiInputBase*>(FDev.get())->SetTimingClock(on);
}

void MMDevIn::AssignFrom(const MidiManagerDev& o)
{
    MidiManagerDev::AssignFrom(o);
}

void MMDevIn::AssignFrom(const MMDevIn& o)
{
    MidiManagerDev::AssignFrom(o);
    FThruList.AssignFrom(const_cast<TMidiAliasList*>(&o.FThruList));
    FTimingClock = o.FTimingClock;
    FActiveSensing = o.FActiveSensing;
}

void MMDevIn::saveToIniFile(TIniFile& ini, int k)
{
    const std::string n = UString::FromInt(k);
    ini.WriteString(SECTION_MIDI_IN, IDENT_NAME + n, GetName());
    ini.WriteString(SECTION_MIDI_IN, IDENT_OPTIONS + n,
                    Flag(FActiveSensing) + Flag(FTimingClock) + TypeOptions(FDescriptor->GetType()));
}

void MMDevIn::loadFromIniFile(TIniFile& ini, int k)
{
    const std::string n = UString::FromInt(k);
    const std::string name = ini.ReadString(SECTION_MIDI_IN, IDENT_NAME + n, "");
    const std::string opts = ini.ReadString(SECTION_MIDI_IN, IDENT_OPTIONS + n, "");
    if (!opts.empty())
        SetActiveSensing(opts[0] == 'T');
    if (opts.size() >= 2)
        SetTimingClock(opts[1] == 'T');
    MidiManagerDev::SetDescriptor(TypeFromOptions(opts, 2), 1, name);
}

// ---- MMDevOut --------------------------------------------------------------------------------

MMDevOut::MMDevOut(MidiDeviceDescriptor* d, int index) : MidiManagerDev(d, index) {}

MMDevOut::MMDevOut(unsigned int type, int index, const std::string& name) : MidiManagerDev(index)
{
    MidiManagerDev::SetDescriptor(type, 0, name);
}

void MMDevOut::CreateDevice()
{
    DropDevice();
    if (TMidiDeviceBase* dev = FDescriptor->CreateOutputDevice())
        InstallDevice(dev);
}

void MMDevOut::RebuildAliasList()
{
    BindAliases(aliasMidiOut);
}

void MMDevOut::AssignFrom(const MidiManagerDev& o)
{
    MidiManagerDev::AssignFrom(o);
}

void MMDevOut::AssignFrom(const MMDevOut& o)
{
    MidiManagerDev::AssignFrom(o);
}

void MMDevOut::saveToIniFile(TIniFile& ini, int k)
{
    const std::string n = UString::FromInt(k);
    ini.WriteString(SECTION_MIDI_OUT, IDENT_NAME + n, GetName());
    ini.WriteString(SECTION_MIDI_OUT, IDENT_OPTIONS + n, TypeOptions(FDescriptor->GetType()));
}

void MMDevOut::loadFromIniFile(TIniFile& ini, int k)
{
    const std::string n = UString::FromInt(k);
    const std::string name = ini.ReadString(SECTION_MIDI_OUT, IDENT_NAME + n, "");
    const std::string opts = ini.ReadString(SECTION_MIDI_OUT, IDENT_OPTIONS + n, "");
    MidiManagerDev::SetDescriptor(TypeFromOptions(opts, 0), 0, name);
}
} // namespace Tr
