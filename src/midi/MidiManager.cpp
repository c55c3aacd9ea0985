// Life of the MIDI manager, its listener and factory registries and the alias manager's view of
// the port lists.
#include "midi/MidiManager.h"

#include "core/TrAssert.h"
#include "core/TrUtil.h"
#include "midi/MidiDevChangeNotifier.h"
#include "midi/MidiListenerList.h"

namespace Tr
{
TList<MidiManagerInitializer*>* MidiManagerInitializers = nullptr;

MidiManager* MidiManager::inst = nullptr;
bool MidiManager::hadAlreadyBeenDestroyed = false;

namespace
{
// Tells every registered initializer, first to last; the count is taken once.
void TellInitializers(void (MidiManagerInitializer::*op)())
{
    if (MidiManagerInitializers == nullptr)
        return;
    const int n = MidiManagerInitializers->Count();
    for (int i = 0; i < n; ++i)
        ((*MidiManagerInitializers)[i]->*op)();
}
} // namespace

// ---- Singleton and life ----------------------------------------------------------------------

MidiManager* MidiManager::instance()
{
    if (inst)
        return inst;
    if (hadAlreadyBeenDestroyed)
        TR_FAIL();
    // The shutdown registry owns the manager from here on.
    MidiManager* manager = new MidiManager();
    manager->Init();
    return inst;
}

bool MidiManager::IsInstanceAllocated()
{
    return inst != nullptr;
}

void MidiManager::AddInitializer(MidiManagerInitializer* init)
{
    if (init == nullptr)
        return;
    if (MidiManagerInitializers == nullptr)
        MidiManagerInitializers = new TList<MidiManagerInitializer*>();
    AddListenerOnce(*MidiManagerInitializers, init);
}

MidiManager::MidiManager()
{
    // From here on instance() returns this manager, also to the initializers called below and to
    // anything Init() calls before it has finished.
    inst = this;
    FNotifier = new MIDIDevChangeNotifier();
    TellInitializers(&MidiManagerInitializer::OnMidiManagerCreated);
}

void MidiManager::Init()
{
    FInited = 1;
    TMidiAliasManager::SetPortLookup(&FPortLookup);
    TMidiAliasManager::instance()->AddAliasChangeListener(this);
    TMidiRouter::instance()->AddRouteChangeListener(this);
    if (FNotifier && !FNotifier->IsRegistered())
        FNotifier->registerNotification();
    TellInitializers(&MidiManagerInitializer::OnMidiManagerInited);
}

MidiManager::~MidiManager()
{
    if (MidiManagerInitializers)
    {
        TellInitializers(&MidiManagerInitializer::OnMidiManagerToBeDeleted);
        for (MidiManagerInitializer* init : *MidiManagerInitializers)
            delete init;
        delete MidiManagerInitializers;
        MidiManagerInitializers = nullptr;
    }
    delete FNotifier;
    FNotifier = nullptr;
    TMidiAliasManager::SetPortLookup(nullptr);
    if (TMidiAliasManager::IsInstanceAllocated())
        TMidiAliasManager::instance()->RemoveAliasChangeListener(this);
    if (TMidiRouter::IsInstanceAllocated())
        TMidiRouter::instance()->RemoveRouteChangeListener(this);
    // Each entry deletes its port object, whose destructor closes it; no listener is told.
    for (MMDevIn* e : FInDevs)
        delete e;
    FInDevs.Clear();
    for (MMDevOut* e : FOutDevs)
        delete e;
    FOutDevs.Clear();
    FDevListListeners.Clear();
    FControlListeners.Clear();
    inst = nullptr;
    hadAlreadyBeenDestroyed = true;
}

// ---- Listeners -------------------------------------------------------------------------------

void MidiManager::AddDevListChangeListener(TMidiDeviceListListener* l)
{
    AddListenerOnce(FDevListListeners, l);
}

void MidiManager::RemoveDevListChangeListener(TMidiDeviceListListener* l)
{
    RemoveListener(FDevListListeners, l);
}

void MidiManager::AddDeviceControlListener(MidiManagerDeviceControlListener* l)
{
    AddListenerOnce(FControlListeners, l);
}

void MidiManager::RemoveDeviceControlListener(MidiManagerDeviceControlListener* l)
{
    RemoveListener(FControlListeners, l);
}

void MidiManager::FireDevListChangeEvent()
{
    TellListeners(FDevListListeners, &TMidiDeviceListListener::OnMidiDeviceListChanged);
}

void MidiManager::AddOutFilter(MidiOutDeviceFilter* f)
{
    AddListenerOnce(FOutFilters, f);
}

void MidiManager::RemoveOutFilter(MidiOutDeviceFilter* f)
{
    RemoveListener(FOutFilters, f);
}

void MidiManager::AddInFilter(MidiInDeviceFilter* f)
{
    AddListenerOnce(FInFilters, f);
}

void MidiManager::RemoveInFilter(MidiInDeviceFilter* f)
{
    RemoveListener(FInFilters, f);
}

// ---- Factories -------------------------------------------------------------------------------

void MidiManager::AddFactory(MidiDeviceFactory* f, unsigned char refreshNow)
{
    // The per-factory port counts hold ten factories; one system back end is all this program has.
    if (f == nullptr || IndexOfListener(FFactories, f) >= 0 || FFactories.Count() >= MaxFactories)
        return;
    FFactories.Add(f);
    f->FErrorListener = this;
    if (refreshNow)
        RefreshDevList(0, 0);
    else
        FDevListValid = 0;
}

void MidiManager::RemoveFactory(MidiDeviceFactory* f, unsigned char notify)
{
    RemoveListener(FFactories, f);
    bool lost = false;
    for (unsigned char isInput = 1;; isInput = 0)
    {
        for (int i = 0; i < EntryCount(isInput); ++i)
        {
            MidiManagerDev* e = Entry(i, isInput);
            if (e->FDescriptor->FFactory == f && e->FExists)
            {
                e->FExists = 0;
                lost = true;
            }
        }
        if (isInput == 0)
            break;
    }
    if (lost && notify)
        FireDevListChangeEvent();
}

MidiDeviceFactory* MidiManager::GetFactory(unsigned int type)
{
    const int k = GetFactoryIndex(type);
    return k >= 0 ? FFactories[k] : nullptr;
}

int MidiManager::GetFactoryIndex(unsigned int type)
{
    for (int k = FFactories.Count() - 1; k >= 0; --k)
        if (FFactories[k]->GetType() == type)
            return k;
    return -1;
}

void MidiManager::ClearFactoryCaches()
{
    for (MidiDeviceFactory* f : FFactories)
        f->FLastCacheTime = 0;
}

// ---- Device-change detection -----------------------------------------------------------------

bool MidiManager::isDetectingMIDIDeviceChanges()
{
    return FNotifier && FNotifier->IsRegistered();
}

void MidiManager::StopDetectingMIDIDeviceChanges()
{
    delete FNotifier;
    FNotifier = nullptr;
}

void MidiManager::OnNewDeviceTimerExpire(void* /*ignored*/)
{
    RefreshDevList(1, 0);
}

// ---- The alias manager's view of the port lists ----------------------------------------------

int MidiManager::AliasPortLookup::GetPortCount(unsigned char isInput)
{
    return FManager.GetDevCount(isInput);
}

bool MidiManager::AliasPortLookup::GetPortName(int index, unsigned char isInput, std::string& name)
{
    MidiManagerDev* e = FManager.GetDevDescriptor(index, isInput);
    if (e == nullptr)
        return false;
    name = e->GetName();
    return true;
}

void MidiManager::AliasPortLookup::GetPortsOpenOrPending(unsigned char isInput, std::unordered_set<std::string>& names)
{
    names.clear();
    const int count = FManager.GetDevCount(isInput);
    // The last entry of a name decides, as GetDevIndex searches from the last entry.
    std::unordered_set<std::string> decided;
    for (int i = count - 1; i >= 0; --i)
    {
        MidiManagerDev* e = FManager.Entry(i, isInput);
        std::string name = UpperCase(e->GetName());
        if (decided.insert(name).second && (e->IsOpen() || e->IsPending()))
            names.insert(std::move(name));
    }
}

void MidiManager::AliasPortLookup::AddDevListChangeListener(TMidiDeviceListListener* listener)
{
    FManager.AddDevListChangeListener(listener);
}

void MidiManager::AliasPortLookup::RemoveDevListChangeListener(TMidiDeviceListListener* listener)
{
    // The lookup is withdrawn before the manager goes, so the manager is still there.
    FManager.RemoveDevListChangeListener(listener);
}

// ---- Entries of either list ------------------------------------------------------------------

MidiManagerDev* MidiManager::Entry(int id, unsigned char isInput)
{
    if (isInput)
        return FInDevs[id];
    return FOutDevs[id];
}

MidiManagerDev* MidiManager::AppendEntry(MidiDeviceDescriptor* d, unsigned char isInput)
{
    if (isInput)
    {
        auto* e = new MMDevIn(d, FInDevs.Count());
        FInDevs.Add(e);
        return e;
    }
    auto* e = new MMDevOut(d, FOutDevs.Count());
    FOutDevs.Add(e);
    return e;
}
} // namespace Tr
