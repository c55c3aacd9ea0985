#include "midi/MidiAlias.h"

#include "core/TrAssert.h"
#include "core/TrException.h"
#include "core/TrIniFile.h"
#include "core/TrUtil.h"
#include "midi/MidiAliasPortLookup.h"
#include "midi/MidiListenerList.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Tr {

const std::string SAliasNone = UString::ResourceString("None");
const std::string SAliasMidiIn = UString::ResourceString("MIDI IN");
const std::string SAliasMidiOut = UString::ResourceString("MIDI OUT");
const std::string SAliasSerial = UString::ResourceString("Serial Port");

const std::string SECTION_ALIAS = "MIDI.alias";
const std::string MidiAliasMagic = "MIDA";
const std::string IDENT_NAME = "Name";
const std::string IDENT_DEVICE = "Device";

namespace {

// The text form counts its names in four hex digits.
const int MaxExportedNames = 0xFFFF;
const int ExportHeaderLength = 8;

bool SameName(const std::string& a, const std::string& b)
{
    return CompareText(a, b) == 0;
}

// The first alias of a type and name (ignoring case), found without a search through every alias:
// a long alias list is loaded name by name. It takes in the aliases added since it last looked;
// after any other change it must be told to Forget what it knew.
class AliasIndex
{
public:
    explicit AliasIndex(const TList<TMidiAlias*>& aliases) : FAliases(aliases) {}

    int IndexOf(const std::string& name, TAliasType type)
    {
        for (; FKnown < FAliases.Count(); ++FKnown)
            FFirst.emplace(Key(FAliases[FKnown]->FName, FAliases[FKnown]->FType), FKnown);
        auto it = FFirst.find(Key(name, type));
        return it == FFirst.end() ? -1 : it->second;
    }

    void Forget()
    {
        FFirst.clear();
        FKnown = 0;
    }

private:
    // Names equal ignoring case are those whose upper-case forms are equal.
    static std::string Key(const std::string& name, TAliasType type)
    {
        return UString::FromInt(type) + ":" + UpperCase(name);
    }

    const TList<TMidiAlias*>& FAliases;
    int FKnown = 0;
    std::unordered_map<std::string, int> FFirst;   // emplace keeps the first index of a key
};

} // namespace

bool IsLegalMidiAliasName(const std::string& name)
{
    return !name.empty() && name.find('"') == std::string::npos;
}

std::string GetAliasTypeDisplayString(TAliasType type)
{
    switch (type) {
    case aliasNone:
        return SAliasNone;
    case aliasMidiIn:
        return SAliasMidiIn;
    case aliasMidiOut:
        return SAliasMidiOut;
    case aliasSerialPort:
        return SAliasSerial;
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// TMidiAlias

TMidiAlias::TMidiAlias(const std::string& name, const std::string& device, TAliasType type)
    : FType(type), FName(name), FDevice(device), FProjectUse(0), FUserID(-1)
{
}

TMidiAlias::TMidiAlias(const std::string& name, TIniFile& ini, int index)
    : FType(aliasNone), FName(name), FProjectUse(0), FUserID(-1)
{
    loadFromIniFile(ini, index);
}

bool TMidiAlias::IsValid() const
{
    return FType != aliasNone;
}

bool TMidiAlias::IsInputAlias() const
{
    const TAliasType t = FType;
    return t == aliasMidiIn || t == aliasSerialPort;
}

bool TMidiAlias::IsOutputAlias() const
{
    const TAliasType t = FType;
    return t == aliasMidiOut || t == aliasSerialPort;
}

bool TMidiAlias::IsDeviceAlias() const
{
    return SameName(FName, FDevice);
}

bool TMidiAlias::SameAs(const std::string& name, TAliasType type) const
{
    return FType == type && SameName(FName, name);
}

void TMidiAlias::loadFromIniFile(TIniFile& ini, int index)
{
    // "<type>:<device>"; the device may itself hold colons. Anything else loads as a removed alias.
    const std::string v = ini.ReadString(SECTION_ALIAS, IDENT_DEVICE + UString::FromInt(index), "");
    const std::string::size_type p = v.find(':');
    if (p != std::string::npos && p >= 1) {
        const int t = StrToIntDef(v.substr(0, p), -1);
        if (t >= aliasNone && t <= aliasSerialPort) {
            FType = static_cast<TAliasType>(t);
            FDevice = v.substr(p + 1);
            return;
        }
    }
    FType = aliasNone;
    FDevice.clear();
}

void TMidiAlias::saveToIniFile(TIniFile& ini, int index)
{
    const std::string k = UString::FromInt(index);
    ini.WriteString(SECTION_ALIAS, IDENT_NAME + k, FName);
    ini.WriteString(SECTION_ALIAS, IDENT_DEVICE + k, UString::FromInt(FType) + ":" + FDevice);
}

// ---------------------------------------------------------------------------------------------
// TMidiAliasList

void TMidiAliasList::Add(TMidiAlias* alias)
{
    if (!alias)
        return;
    for (int i = 0; i < Count(); ++i)
        if ((*this)[i] == alias)
            return;
    TList<TMidiAlias*>::Add(alias);
}

void TMidiAliasList::Add(TMidiAliasList* other)
{
    if (!other)
        return;
    const int n = other->Count();
    for (int i = 0; i < n; ++i)
        Add((*other)[i]);
}

void TMidiAliasList::AssignFrom(TMidiAliasList* other)
{
    if (other == this)
        return;
    Clear();
    Add(other);
}

TMidiAlias* TMidiAliasList::GetAlias(int index)
{
    TR_ASSERT(index >= 0);
    TR_ASSERT(index < Count());
    return (*this)[index];
}

TMidiAlias* TMidiAliasList::GetAliasByName(const std::string& name)
{
    for (int i = 0; i < Count(); ++i)
        if (SameName((*this)[i]->FName, name))
            return (*this)[i];
    return nullptr;
}

TMidiAlias* TMidiAliasList::GetAliasByNameAndType(const std::string& name, TAliasType type)
{
    for (int i = 0; i < Count(); ++i)
        if ((*this)[i]->SameAs(name, type))
            return (*this)[i];
    return nullptr;
}

bool TMidiAliasList::Exists(const std::string& name, TAliasType type)
{
    return GetAliasByNameAndType(name, type) != nullptr;
}

int TMidiAliasList::GetCountOfType(TAliasType type)
{
    int n = 0;
    for (int i = 0; i < Count(); ++i)
        if ((*this)[i]->FType == type)
            ++n;
    return n;
}

bool TMidiAliasList::ContainsAliasUserID(int id)
{
    for (int i = 0; i < Count(); ++i)
        if ((*this)[i]->FUserID == id)
            return true;
    return false;
}

std::string TMidiAliasList::ExportToString(TAliasType type)
{
    std::string names;
    int n = 0;
    for (int i = 0; i < Count() && n < MaxExportedNames; ++i) {
        if ((*this)[i]->FType == type) {
            names += EncodeStringForIniFile((*this)[i]->FName);
            ++n;
        }
    }
    return MidiAliasMagic + IntToHexLen(n, 4, 4) + names;
}

int TMidiAliasList::ImportFromString(const std::string& s, int start, TAliasType type)
{
    const int length = static_cast<int>(s.size());
    if (start < 0 || start > length
        || s.compare(static_cast<std::size_t>(start), MidiAliasMagic.size(), MidiAliasMagic) != 0) {
        Clear();
        return 0;
    }
    const int r = length - start;
    const int n = HexToInt(s.substr(static_cast<std::size_t>(start) + 4, 4));
    if (n < 1 || r <= ExportHeaderLength) {
        Clear();
        return ExportHeaderLength;
    }
    // All names are read before anything changes, so a damaged text leaves the list and the alias
    // manager as they were. A text that ends right after a whole name is read as far as it goes,
    // even when its count announces more names.
    std::vector<std::string> names;
    int pos = ExportHeaderLength;
    for (int i = 0; i < n && r - pos >= 1; ++i) {
        std::string name;
        pos += DecodeStringFromIniFile(s, start + pos, name);
        names.push_back(std::move(name));
    }
    Clear();
    TMidiAliasManager* manager = TMidiAliasManager::instance();
    for (const std::string& name : names)
        Add(manager->GetAliasByName(name, type, true));
    return pos;
}

std::string TMidiAliasList::getCommaSeparatedString()
{
    std::string result;
    result.reserve(static_cast<std::string::size_type>(Count()) * 30);
    for (int i = 0; i < Count(); ++i) {
        const TMidiAlias* a = (*this)[i];
        if (a->FType == aliasNone)
            continue;
        if (!result.empty())
            result += ", ";
        if (a->FName.find(',') != std::string::npos)
            result += "\"" + a->FName + "\"";
        else
            result += a->FName;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// TMidiAliasManager

TMidiAliasManager* TMidiAliasManager::inst = nullptr;
bool TMidiAliasManager::hadAlreadyBeenDestroyed = false;
TMidiAliasPortLookup* TMidiAliasManager::portLookup = nullptr;

TMidiAliasManager* TMidiAliasManager::instance()
{
    if (inst)
        return inst;
    if (hadAlreadyBeenDestroyed)
        TR_FAIL();
    new TMidiAliasManager(); // the shutdown registry owns it from here on
    return inst;
}

bool TMidiAliasManager::IsInstanceAllocated()
{
    return inst != nullptr;
}

void TMidiAliasManager::SetPortLookup(TMidiAliasPortLookup* lookup)
{
    portLookup = lookup;
}

TMidiAliasManager::TMidiAliasManager()
{
    inst = this;
}

TMidiAliasManager::~TMidiAliasManager()
{
    if (portLookup)
        portLookup->RemoveDevListChangeListener(this);
    for (int i = 0; i < FAlias.Count(); ++i)
        delete FAlias[i];
    FAlias.Clear();
    FListeners.Clear();
    inst = nullptr;
    hadAlreadyBeenDestroyed = true;
}

void TMidiAliasManager::AddAliasChangeListener(TMidiAliasChangeListener* listener)
{
    AddListenerOnce(FListeners, listener);
}

void TMidiAliasManager::RemoveAliasChangeListener(TMidiAliasChangeListener* listener)
{
    RemoveListener(FListeners, listener);
}

void TMidiAliasManager::BeginUpdate()
{
    ++FUpdateCount;
}

void TMidiAliasManager::EndUpdate()
{
    CloseUpdateBracket(FListeners, FUpdateCount, FChangePending,
        &TMidiAliasChangeListener::OnMidiAliasListChanged);
}

void TMidiAliasManager::FireAliasChangeEvent()
{
    FireOrHoldBack(FListeners, FUpdateCount, FChangePending,
        &TMidiAliasChangeListener::OnMidiAliasListChanged);
}

int TMidiAliasManager::GetCount()
{
    return FAlias.Count();
}

TMidiAlias* TMidiAliasManager::GetAlias(int index)
{
    TR_ASSERT(index>=0);
    TR_ASSERT(index<FAlias.Count());
    return FAlias[index];
}

int TMidiAliasManager::GetCountOfType(TAliasType type)
{
    int n = 0;
    for (int i = 0; i < FAlias.Count(); ++i)
        if (FAlias[i]->FType == type)
            ++n;
    return n;
}

int TMidiAliasManager::GetCountOfValid()
{
    int n = 0;
    for (int i = 0; i < FAlias.Count(); ++i)
        if (FAlias[i]->IsValid())
            ++n;
    return n;
}

int TMidiAliasManager::IndexOf(const std::string& name, TAliasType type)
{
    for (int i = 0; i < FAlias.Count(); ++i)
        if (FAlias[i]->SameAs(name, type))
            return i;
    return -1;
}

int TMidiAliasManager::IndexOfByRef(TMidiAlias* alias)
{
    if (!alias)
        return -1;
    for (int i = 0; i < FAlias.Count(); ++i)
        if (FAlias[i] == alias)
            return i;
    return -1;
}

bool TMidiAliasManager::Exists(const std::string& name, TAliasType type)
{
    return IndexOf(name, type) >= 0;
}

void TMidiAliasManager::FillAliasListByType(TAliasType type, TMidiAliasList& list)
{
    list.Clear();
    for (int i = 0; i < FAlias.Count(); ++i)
        if (FAlias[i]->FType == type)
            list.Add(FAlias[i]);
}

void TMidiAliasManager::FillAliasListByDevice(const std::string& device, TAliasType type,
                                              TMidiAliasList& list)
{
    // Only aliases of exactly that type: a serial-port alias never binds to a MIDI port entry.
    list.Clear();
    for (int i = 0; i < FAlias.Count(); ++i)
        if (FAlias[i]->FType == type && SameName(FAlias[i]->FDevice, device))
            list.Add(FAlias[i]);
}

bool TMidiAliasManager::isMaintainingDeviceAliases()
{
    return FMaintainDeviceAliases != 0;
}

void TMidiAliasManager::DumpAliases()
{
    // Kept for the library's interface; release builds print nothing.
}

int TMidiAliasManager::AddAliasImpl(const std::string& name, const std::string& device,
                                    TAliasType type)
{
    auto alias = std::make_unique<TMidiAlias>(name, device, type);
    FAlias.Add(alias.get());
    alias.release();
    const int index = FAlias.Count() - 1;
    FireAliasChangeEvent();
    return index;
}

int TMidiAliasManager::AddAlias(const std::string& name, const std::string& device, TAliasType type)
{
    const int i = IndexOf(name, type);
    if (i < 0)
        return AddAliasImpl(name, device, type);
    TMidiAlias* a = FAlias[i];
    if (!SameName(a->FDevice, device)) {
        a->FDevice = device;
        FireAliasChangeEvent();
    }
    return i;
}

void TMidiAliasManager::ModifyAlias(const std::string& name, TAliasType type,
                                    const std::string& newName, const std::string& newDevice)
{
    const int i = IndexOf(name, type);
    if (i < 0)
        AddAliasImpl(newName, newDevice, type);
    else
        ModifyAliasAt(i, newName, newDevice);
}

bool TMidiAliasManager::ModifyAliasAt(int index, const std::string& newName, const std::string& newDevice)
{
    // Byte for byte here: a change of letter case is a change worth storing.
    TMidiAlias* a = FAlias[index];
    if (a->FName == newName && a->FDevice == newDevice)
        return false;
    a->FName = newName;
    a->FDevice = newDevice;
    FireAliasChangeEvent();
    return true;
}

TMidiAlias* TMidiAliasManager::GetAliasByName(const std::string& name, TAliasType type, bool create)
{
    const int i = IndexOf(name, type);
    TMidiAlias* a = nullptr;
    if (i >= 0)
        a = FAlias[i];
    else if (create)
        a = FAlias[AddAliasImpl(name, "", type)];
    if (a && create)
        a->FProjectUse |= 1;
    return a;
}

void TMidiAliasManager::RemoveAlias(int index)
{
    if (index < 0 || index >= FAlias.Count() || FAlias[index]->FType == aliasNone)
        return;
    FAlias[index]->FType = aliasNone;
    FireAliasChangeEvent();
}

void TMidiAliasManager::RemoveAll()
{
    bool changed = false;
    for (int i = 0; i < FAlias.Count(); ++i) {
        if (FAlias[i]->FType != aliasNone) {
            FAlias[i]->FType = aliasNone;
            changed = true;
        }
    }
    if (changed)
        FireAliasChangeEvent();
}

void TMidiAliasManager::ClearProjectUse()
{
    for (int i = 0; i < FAlias.Count(); ++i)
        FAlias[i]->FProjectUse = 0;
}

void TMidiAliasManager::setMaintainDeviceAliases(bool on)
{
    if (on == (FMaintainDeviceAliases != 0))
        return;
    FMaintainDeviceAliases = on ? 1 : 0;
    if (!on)
        return; // stays registered: the handler checks the flag
    addDeviceAliases();
    if (portLookup)
        portLookup->AddDevListChangeListener(this);
}

void TMidiAliasManager::addDeviceAliases()
{
    BeginUpdate();
    try {
        for (unsigned char isInput = 0; isInput <= 1 && portLookup; ++isInput) {
            const TAliasType type = isInput ? aliasMidiIn : aliasMidiOut;
            const int count = portLookup->GetPortCount(isInput);
            for (int i = 0; i < count; ++i) {
                std::string name;
                if (!portLookup->GetPortName(i, isInput, name))
                    continue;
                TMidiAlias* a = GetAliasByName(name, type, true);
                if (!a->IsDeviceAlias()) {
                    a->FDevice = name;
                    FireAliasChangeEvent();
                }
            }
        }
    } catch (...) {
        // The listeners still hear of the aliases made before the failure.
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMidiAliasManager::OnMidiDeviceListChanged()
{
    if (FMaintainDeviceAliases)
        addDeviceAliases();
}

void TMidiAliasManager::loadFromIniFile(TIniFile& ini)
{
    if (!FPersistent)
        return;
    AliasIndex index(FAlias);
    for (int i = 0;; ++i) {
        const std::string key = IDENT_NAME + UString::FromInt(i);
        if (!ini.ValueExists(SECTION_ALIAS, key))
            break;
        const std::string name = ini.ReadString(SECTION_ALIAS, key, "");
        if (name.empty())
            break;
        auto loaded = std::make_unique<TMidiAlias>(name, ini, i);
        const int stored = index.IndexOf(name, loaded->FType);
        if (stored >= 0) {
            // The stored alias keeps its identity and takes the file's letter case and device. The
            // listeners told of that may have changed any alias.
            if (ModifyAliasAt(stored, name, loaded->FDevice) && FUpdateCount <= 0)
                index.Forget();
        } else {
            FAlias.Add(loaded.get());
            loaded.release();
        }
    }
    FireAliasChangeEvent();
}

void TMidiAliasManager::saveToIniFile(TIniFile& ini)
{
    if (!FPersistent)
        return;
    int k = 0;
    // The ports in use, asked for once per direction where the first device alias would have asked
    // about its own port: one search through the port list per device alias made saving many of
    // them quadratic.
    std::unordered_set<std::string> portsInUse[2];
    bool asked[2] = {false, false};
    for (int i = 0; i < FAlias.Count(); ++i) {
        TMidiAlias* a = FAlias[i];
        if (a->FType == aliasNone)
            continue;
        if (a->IsDeviceAlias()) {
            // A device alias is worth keeping only while its port is in use.
            const unsigned char isInput = a->IsInputAlias() ? 1 : 0;
            if (!portLookup)
                continue;
            if (!asked[isInput]) {
                portLookup->GetPortsOpenOrPending(isInput, portsInUse[isInput]);
                asked[isInput] = true;
            }
            if (portsInUse[isInput].count(UpperCase(a->FDevice)) == 0)
                continue;
        }
        a->saveToIniFile(ini, k);
        ++k;
    }
    for (;; ++k) {
        const std::string n = UString::FromInt(k);
        if (!ini.ValueExists(SECTION_ALIAS, IDENT_NAME + n))
            break;
        ini.DeleteKey(SECTION_ALIAS, IDENT_NAME + n);
        ini.DeleteKey(SECTION_ALIAS, IDENT_DEVICE + n);
    }
}

} // namespace Tr
