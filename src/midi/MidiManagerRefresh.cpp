// Keeping the port lists in step with what the factories report, and the queries on them.
#include "midi/MidiManager.h"

#include "core/TrUtil.h"
#include "midi/MidiListenerList.h"
#include "midi/MidiLockHold.h"

#include <memory>
#include <vector>

namespace Tr
{
namespace
{
// One port object moving to the entry that now bears its port's display name.
struct MMDevTransfer
{
    int source;
    int target;
    TMidiDeviceBase* device;   // may be null
};

// A factory's port list, owning its descriptor clones.
class DescriptorList : public TList<MidiDeviceDescriptor*>
{
public:
    ~DescriptorList() override { DeleteAll(); }
    void DeleteAll()
    {
        for (MidiDeviceDescriptor* d : *this)
            delete d;
        Clear();
    }
};
} // namespace

bool MidiManager::RefreshDevList(unsigned char forceNotify, unsigned char /*unused*/)
{
    const bool forced = forceNotify || !FDevListValid;
    FDevListValid = 1;
    bool changed = forced;
    {
        MidiLockHold hold(FLock);
        if (FRefreshing)
        {
            FRefreshAgain = 1;
            return false;
        }
        FRefreshing = 1;
        try
        {
            do
            {
                FRefreshAgain = 0;
                for (int k = 0; k < FFactories.Count(); ++k)
                {
                    for (unsigned char isInput = 0; isInput <= 1; ++isInput)
                    {
                        if (RefreshDevListPerFactory(FFactories[k], k, isInput, forced ? 1 : 0))
                            changed = true;
                        if (FRefreshAgain)
                            break;
                    }
                }
                RefreshEntries(0, changed);
                RefreshEntries(1, changed);
                if (!FRefreshAgain && changed)
                    OnMidiAliasListChanged();
            } while (FRefreshAgain);
        }
        catch (...)
        {
            FRefreshing = 0;
            throw;
        }
    }
    // A listener that throws must not leave the manager believing a refresh still runs: every
    // later refresh would then only ask the dead one to loop again.
    struct RefreshEnd
    {
        std::atomic<unsigned char>& flag;
        ~RefreshEnd() { flag = 0; }
    } end{FRefreshing};
    if (changed)
        TellListeners(FDevListListeners, &TMidiDeviceListListener::OnMidiDeviceListChanged);
    return changed;
}

// The entry pass: marks the entries their factories no longer reported as absent, closes vanished
// open ports (leaving them waiting to reopen) and opens present waiting ones.
void MidiManager::RefreshEntries(unsigned char isInput, bool& changed)
{
    const int count = EntryCount(isInput);
    for (int i = 0; i < count; ++i)
    {
        MidiManagerDev* e = Entry(i, isInput);
        if (!e->FSeen && e->FExists)
        {
            e->FExists = 0;
            changed = true;
        }
        if (!e->FExists)
        {
            if (e->IsOpen())
            {
                Close(i, isInput, 0, 1);
                e->FPending = 1;
            }
        }
        else if (e->FPending && !e->IsOpen())
        {
            Open(i, isInput, 0);
        }
    }
}

bool MidiManager::RefreshDevListPerFactory(MidiDeviceFactory* f, int factoryIndex, unsigned char isInput,
                                           unsigned char fullScan)
{
    int& stored = isInput ? FLastInCount[factoryIndex] : FLastOutCount[factoryIndex];
    const unsigned int type = f->GetType();
    const int count = EntryCount(isInput);
    const int n = f->GetNumDevs(isInput);
    // An open port whose program restarted at another address keeps the count and the name, yet
    // reaches nothing: only a full scan finds where it is now.
    if (!fullScan && n == stored && !HasLostOpenPort(type, isInput))
    {
        for (int i = 0; i < count; ++i)
        {
            MidiManagerDev* e = Entry(i, isInput);
            if (e->FDescriptor->GetType() == type)
                e->FSeen = e->FExists;
        }
        return false;
    }
    stored = n;
    for (int i = count - 1; i >= 0; --i)
    {
        MidiManagerDev* e = Entry(i, isInput);
        if (e->FDescriptor->GetType() == type)
            e->FSeen = 0;
    }

    DescriptorList descs;
    f->GetDeviceList(isInput, descs);
    if (descs.Count() != n)
    {
        // The factory's cached list is older than the count it just reported; a scan of that list
        // would store the new count with the old ports, and later unforced refreshes would never
        // look again.
        f->FLastCacheTime = 0;
        f->GetDeviceList(isInput, descs);
    }
    if (FRefreshAgain)
        return false;

    bool scanChanged = false;
    std::vector<MMDevTransfer> transfers;
    EntryIndex index(*this, isInput);
    for (MidiDeviceDescriptor* d : descs)
    {
        if (d == nullptr)
            continue;
        const std::string name = d->GetName();
        if (!FDevListValid)
            RefreshDevList(1, 0);   // nested: only asks this refresh to loop again
        // An entry of this back end wins over a like-named one of another back end; else every
        // scan would find the other one first and append yet another entry for this port.
        int byName = index.ByNameAndType(name, type);
        if (byName < 0)
            byName = index.ByName(name);
        const int byDesc = index.ByDescriptor(d);
        if (byName >= 0)
        {
            MidiManagerDev* named = Entry(byName, isInput);
            if (named->FDescriptor->GetType() != type)
            {
                // A present port of another back end keeps its entry; this one gets its own.
                if (named->FExists)
                    byName = -1;
                else
                    named->SetDescriptor(d);
            }
        }
        if (byName < 0)
            byName = AppendEntry(d, isInput)->FIndex;

        MidiManagerDev* e = Entry(byName, isInput);
        e->FSeen = 1;
        if (!e->FExists)
        {
            e->FExists = 1;
            scanChanged = true;
        }
        if (byDesc >= 0 && byDesc != byName)
        {
            MidiManagerDev* source = Entry(byDesc, isInput);
            transfers.push_back(MMDevTransfer{byDesc, byName, source->FDev.release()});
            source->FDescriptor->InvalidateSerialAndInterface();
            scanChanged = true;
        }
        e->SetDescriptor(d);
        index.Update(byName);
        if (e->IsOpen() && (scanChanged || e->FDev->HasLostPort()))
        {
            // Reopened by the entry pass under its current system index, with the notifications.
            e->FDev->Close();
            e->FPending = 1;
            // A port object may report a failed close to listeners, which may change any entry.
            index.Forget();
        }
    }
    descs.DeleteAll();

    for (const MMDevTransfer& t : transfers)
    {
        MidiManagerDev* target = Entry(t.target, isInput);
        target->DropDevice();
        if (t.device)
        {
            target->AdoptDevice(t.device);
            target->SetDescriptor(target->FDescriptor.get());
        }
    }
    return scanChanged;
}

bool MidiManager::HasLostOpenPort(unsigned int type, unsigned char isInput)
{
    for (int i = 0; i < EntryCount(isInput); ++i)
    {
        MidiManagerDev* e = Entry(i, isInput);
        if (e->FDescriptor->GetType() == type && e->IsOpen() && e->FDev->HasLostPort())
            return true;
    }
    return false;
}

void MidiManager::SetSuspended(unsigned char suspended)
{
    const unsigned char value = suspended ? 1 : 0;
    if (value == FSuspended)
        return;
    FSuspended = value;
    if (!value)
        RefreshDevList(0, 0);
}

// ---- Queries ---------------------------------------------------------------------------------

void MidiManager::ValidateLists()
{
    if (!FDevListValid)
        RefreshDevList(1, 0);
}

int MidiManager::GetDevCount(unsigned char isInput)
{
    ValidateLists();
    return EntryCount(isInput);
}

int MidiManager::GetExistingDevCount(unsigned char isInput)
{
    ValidateLists();
    int n = 0;
    for (int i = 0; i < EntryCount(isInput); ++i)
        if (Entry(i, isInput)->Exists())
            ++n;
    return n;
}

int MidiManager::GetDevIndex(const std::string& name, unsigned char isInput)
{
    ValidateLists();
    return IndexByName(name, isInput);
}

int MidiManager::GetDevIndexByDescriptor(unsigned char isInput, MidiDeviceDescriptor* d)
{
    ValidateLists();
    return IndexByDescriptor(isInput, d);
}

int MidiManager::GetDevIndexByInterfaceName(const std::string& name, unsigned char isInput)
{
    ValidateLists();
    for (int i = EntryCount(isInput) - 1; i >= 0; --i)
        if (CompareText(Entry(i, isInput)->FDescriptor->FInterfaceName, name) == 0)
            return i;
    return -1;
}

MidiManagerDev* MidiManager::GetDevDescriptor(int id, unsigned char isInput)
{
    ValidateLists();
    if (id < 0 || id >= EntryCount(isInput))
        return nullptr;
    return Entry(id, isInput);
}

bool MidiManager::GetDevDescriptor(int id, unsigned char isInput, MidiManagerDev*& entry)
{
    entry = GetDevDescriptor(id, isInput);
    return entry != nullptr;
}

MidiManagerDev* MidiManager::GetDevDescriptor(const std::string& name, unsigned char isInput)
{
    ValidateLists();
    const int id = IndexByName(name, isInput);
    return id >= 0 ? Entry(id, isInput) : nullptr;
}

int MidiManager::GetInDevIndexByName(const std::string& name)
{
    return IndexByName(name, 1);
}

int MidiManager::GetOutDevIndexByName(const std::string& name)
{
    return IndexByName(name, 0);
}

int MidiManager::IndexByName(const std::string& name, unsigned char isInput)
{
    for (int i = EntryCount(isInput) - 1; i >= 0; --i)
        if (CompareText(Entry(i, isInput)->GetName(), name) == 0)
            return i;
    return -1;
}

int MidiManager::IndexByDescriptor(unsigned char isInput, MidiDeviceDescriptor* d)
{
    for (int i = EntryCount(isInput) - 1; i >= 0; --i)
        if (Entry(i, isInput)->FDescriptor->Matches(d))
            return i;
    return -1;
}

// ---- Entry index -----------------------------------------------------------------------------

void MidiManager::EntryIndex::Put(Candidates& candidates, const std::string& key, int index)
{
    std::vector<int>& list = candidates[key];
    if (list.empty() || list.back() != index)
        list.push_back(index);
}

void MidiManager::EntryIndex::Add(int index)
{
    MidiManagerDev* e = FManager.Entry(index, FIsInput);
    Put(FByName, UpperCase(e->GetName()), index);
    // HasNameAndType also knows such an entry by its port object's name.
    if (e->FDev && e->FDescriptor->GetType() == PortTypeVMID)
        Put(FByName, UpperCase(e->FDev->GetDescriptor()->GetName()), index);
    // Matches asks for the same descriptor name.
    Put(FByPortName, e->FDescriptor->FName, index);
}

void MidiManager::EntryIndex::Update(int index)
{
    // An entry not taken in yet is taken in as it is then.
    if (index < FKnown)
        Add(index);
}

void MidiManager::EntryIndex::CatchUp()
{
    for (const int count = FManager.EntryCount(FIsInput); FKnown < count; ++FKnown)
        Add(FKnown);
}

void MidiManager::EntryIndex::Forget()
{
    FByName.clear();
    FByPortName.clear();
    FKnown = 0;
}

template <typename Test>
int MidiManager::EntryIndex::Last(const Candidates& candidates, const std::string& key, Test test)
{
    CatchUp();
    int found = -1;
    auto it = candidates.find(key);
    if (it != candidates.end())
        for (int i : it->second)
            if (i > found && test(FManager.Entry(i, FIsInput)))
                found = i;
    return found;
}

int MidiManager::EntryIndex::ByName(const std::string& name)
{
    return Last(FByName, UpperCase(name),
                [&name](MidiManagerDev* e) { return CompareText(e->GetName(), name) == 0; });
}

int MidiManager::EntryIndex::ByNameAndType(const std::string& name, unsigned int type)
{
    return Last(FByName, UpperCase(name),
                [&name, type](MidiManagerDev* e) { return HasNameAndType(e, name, type); });
}

int MidiManager::EntryIndex::ByDescriptor(MidiDeviceDescriptor* d)
{
    if (d == nullptr)
        return -1;
    return Last(FByPortName, d->FName, [d](MidiManagerDev* e) { return e->FDescriptor->Matches(d); });
}
} // namespace Tr
