#include "midi/MidiRouter.h"

#include "core/TrAssert.h"
#include "core/TrIniFile.h"
#include "core/TrUtil.h"
#include "midi/MidiListenerList.h"

namespace Tr {

const std::string SECTION_ROUTER = "MIDI.routes";
const std::string IDENT_INNAME = "In";
const std::string IDENT_OUTNAME = "Out";

// ---------------------------------------------------------------------------------------------
// TMidiRoute

TMidiRoute::TMidiRoute(int index, TMidiAlias* in, TMidiAlias* out)
    : FInAlias(in), FOutAlias(out), FIndex(index)
{
}

TMidiRoute::TMidiRoute(int index, const std::string& inName, const std::string& outName)
    : FInAlias(nullptr), FOutAlias(nullptr), FIndex(index)
{
    InitByName(inName, outName);
}

TMidiRoute::TMidiRoute(int index, TIniFile& ini, int n)
    : FInAlias(nullptr), FOutAlias(nullptr), FIndex(index)
{
    LoadFromIni(ini, n);
}

bool TMidiRoute::IsValid() const
{
    return FInAlias && FOutAlias;
}

void TMidiRoute::InitByName(const std::string& inName, const std::string& outName)
{
    if (!IsLegalMidiAliasName(inName) || !IsLegalMidiAliasName(outName)) {
        FInAlias = nullptr;
        FOutAlias = nullptr;
        return;
    }
    TMidiAliasManager* aliases = TMidiAliasManager::instance();
    FInAlias = aliases->GetAliasByName(inName, aliasMidiIn, true);
    FOutAlias = aliases->GetAliasByName(outName, aliasMidiOut, true);
}

int TMidiRoute::GetInputAliasUserID() const
{
    return IsValid() ? FInAlias->FUserID.load() : -1;
}

int TMidiRoute::GetOutputAliasUserID() const
{
    return IsValid() ? FOutAlias->FUserID.load() : -1;
}

std::string TMidiRoute::GetInputName() const
{
    return FInAlias ? FInAlias->FName : std::string();
}

std::string TMidiRoute::GetOutputName() const
{
    return FOutAlias ? FOutAlias->FName : std::string();
}

void TMidiRoute::LoadFromIni(TIniFile& ini, int n)
{
    const std::string k = UString::FromInt(n);
    InitByName(ini.ReadString(SECTION_ROUTER, IDENT_INNAME + k, ""),
               ini.ReadString(SECTION_ROUTER, IDENT_OUTNAME + k, ""));
}

void TMidiRoute::SaveToIni(TIniFile& ini, int n)
{
    const std::string k = UString::FromInt(n);
    ini.WriteString(SECTION_ROUTER, IDENT_INNAME + k, GetInputName());
    ini.WriteString(SECTION_ROUTER, IDENT_OUTNAME + k, GetOutputName());
}

// ---------------------------------------------------------------------------------------------
// TMidiRoutes

TMidiRoutes::~TMidiRoutes()
{
    ClearImpl();
}

void TMidiRoutes::SetOwnsRoutes(bool owns)
{
    FOwnsRoutes = owns ? 1 : 0;
}

int TMidiRoutes::AddRouteImpl(TMidiRoute* route)
{
    const int index = FList.Count();
    FList.Add(route);
    if (FOwner)
        FOwner->FireRouterChangeEvent();
    return index;
}

void TMidiRoutes::ClearImpl()
{
    if (FOwnsRoutes)
        for (int i = 0; i < FList.Count(); ++i)
            delete FList[i];
    FList.Clear();
}

int TMidiRoutes::GetCount()
{
    return FList.Count();
}

int TMidiRoutes::GetCountOfValid()
{
    int n = 0;
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] && FList[i]->IsValid())
            ++n;
    return n;
}

TMidiRoute* TMidiRoutes::GetRoute(int index)
{
    if (index < 0 || index >= FList.Count())
        return nullptr;
    return FList[index];
}

TMidiRoute* TMidiRoutes::GetRouteFast(int index)
{
    TR_ASSERT(index >= 0);
    TR_ASSERT(index < FList.Count());
    return FList[index];
}

int TMidiRoutes::IndexOf(TMidiRoute* route)
{
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] == route)
            return i;
    return -1;
}

bool TMidiRoutes::ContainsInUserID(int id)
{
    if (id < 0)
        return false;
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] && FList[i]->GetInputAliasUserID() == id)
            return true;
    return false;
}

void TMidiRoutes::GetRoutesByInUserID(int id, TMidiRouteList& list)
{
    list.ClearImpl();
    if (id < 0)
        return;
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] && FList[i]->GetInputAliasUserID() == id)
            list.AddRouteImpl(FList[i]);
}

void TMidiRoutes::GetRoutesByInputAlias(TMidiAlias* alias, TMidiRouteList& list)
{
    list.ClearImpl();
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] && FList[i]->IsValid() && FList[i]->FInAlias == alias)
            list.AddRouteImpl(FList[i]);
}

void TMidiRoutes::GetRoutesByInputName(const std::string& name, TMidiRouteList& list)
{
    list.ClearImpl();
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] && FList[i]->IsValid() && CompareText(FList[i]->FInAlias->FName, name) == 0)
            list.AddRouteImpl(FList[i]);
}

void TMidiRoutes::GetOutAliasesByInUserID(int id, TMidiAliasList& list)
{
    list.Clear();
    if (id < 0)
        return;
    for (int i = 0; i < FList.Count(); ++i)
        if (FList[i] && FList[i]->GetInputAliasUserID() == id)
            list.Add(FList[i]->FOutAlias); // the alias list keeps each alias once
}

// ---------------------------------------------------------------------------------------------
// TMidiRouteList

void TMidiRouteList::Clear()
{
    ClearImpl();
}

void TMidiRouteList::Delete(int index)
{
    if (index < 0 || index >= FList.Count())
        return;
    TMidiRoute* route = FList[index];
    FList.Remove(index);
    if (FOwnsRoutes)
        delete route;
}

// ---------------------------------------------------------------------------------------------
// TMidiRouter

TMidiRouter* TMidiRouter::inst = nullptr;
bool TMidiRouter::hadAlreadyBeenDestroyed = false;

TMidiRouter* TMidiRouter::instance()
{
    if (inst)
        return inst;
    if (hadAlreadyBeenDestroyed)
        TR_FAIL();
    new TMidiRouter(); // the shutdown registry owns it from here on
    return inst;
}

bool TMidiRouter::IsInstanceAllocated()
{
    return inst != nullptr;
}

TMidiRouter::TMidiRouter()
{
    FRoutes.SetOwnsRoutes(true);
    FRoutes.FOwner = this;
    inst = this;
    TMidiAliasManager::instance()->AddAliasChangeListener(this);
}

TMidiRouter::~TMidiRouter()
{
    if (TMidiAliasManager::IsInstanceAllocated())
        TMidiAliasManager::instance()->RemoveAliasChangeListener(this);
    FRoutes.ClearImpl();
    FListeners.Clear();
    inst = nullptr;
    hadAlreadyBeenDestroyed = true;
}

void TMidiRouter::AddRouteChangeListener(TMidiRouteChangeListener* listener)
{
    AddListenerOnce(FListeners, listener);
}

void TMidiRouter::RemoveRouteChangeListener(TMidiRouteChangeListener* listener)
{
    RemoveListener(FListeners, listener);
}

void TMidiRouter::BeginUpdate()
{
    ++FUpdateCount;
}

void TMidiRouter::EndUpdate()
{
    CloseUpdateBracket(FListeners, FUpdateCount, FChangePending,
        &TMidiRouteChangeListener::OnMidiRouteListChanged);
}

void TMidiRouter::FireRouterChangeEvent()
{
    FireOrHoldBack(FListeners, FUpdateCount, FChangePending,
        &TMidiRouteChangeListener::OnMidiRouteListChanged);
}

int TMidiRouter::AddRoute(TMidiAlias* in, TMidiAlias* out)
{
    return FRoutes.AddRouteImpl(new TMidiRoute(FRoutes.GetCount(), in, out));
}

int TMidiRouter::AddRouteImpl(const std::string& inName, const std::string& outName)
{
    // Making the route may create aliases, whose notification reaches this router before the
    // route is in the table; that is harmless, the new route is valid.
    return FRoutes.AddRouteImpl(new TMidiRoute(FRoutes.GetCount(), inName, outName));
}

void TMidiRouter::ModifyRoute(TMidiRoute* route, TMidiAlias* in, TMidiAlias* out)
{
    if (!route) {
        // A missing alias gives an empty name, and so an invalid route, instead of a crash.
        AddRouteImpl(in ? in->FName : std::string(), out ? out->FName : std::string());
        return;
    }
    if (route->FInAlias == in && route->FOutAlias == out)
        return;
    route->FInAlias = in;
    route->FOutAlias = out;
    FireRouterChangeEvent();
}

void TMidiRouter::RemoveRoute(int index)
{
    TMidiRoute* route = FRoutes.GetRoute(index);
    if (!route || !route->IsValid())
        return;
    route->FInAlias = nullptr;
    FireRouterChangeEvent();
}

void TMidiRouter::RemoveAll()
{
    bool changed = false;
    for (int i = 0; i < FRoutes.GetCount(); ++i) {
        TMidiRoute* route = FRoutes.GetRoute(i);
        if (route && route->IsValid()) {
            route->FInAlias = nullptr;
            changed = true;
        }
    }
    if (changed)
        FireRouterChangeEvent();
}

int TMidiRouter::IndexOf(TMidiAlias* in, TMidiAlias* out)
{
    if (!in || !out)
        return -1;
    for (int i = 0; i < FRoutes.GetCount(); ++i) {
        const TMidiRoute* route = FRoutes.GetRoute(i);
        if (route && route->FInAlias == in && route->FOutAlias == out)
            return i;
    }
    return -1;
}

bool TMidiRouter::Exists(TMidiAlias* in, TMidiAlias* out)
{
    return IndexOf(in, out) >= 0;
}

bool TMidiRouter::IsAliasUsed(TMidiAlias* alias)
{
    if (!alias)
        return false;
    for (int i = 0; i < FRoutes.GetCount(); ++i) {
        const TMidiRoute* route = FRoutes.GetRoute(i);
        if (route && (route->FInAlias == alias || route->FOutAlias == alias))
            return true;
    }
    return false;
}

int TMidiRouter::GetValidCount()
{
    return FRoutes.GetCountOfValid();
}

void TMidiRouter::OnMidiAliasListChanged()
{
    bool changed = false;
    for (int i = 0; i < FRoutes.GetCount(); ++i) {
        TMidiRoute* route = FRoutes.GetRoute(i);
        if (route && route->IsValid() && (!route->FInAlias->IsValid() || !route->FOutAlias->IsValid())) {
            route->FInAlias = nullptr;
            changed = true;
        }
    }
    if (changed)
        FireRouterChangeEvent();
}

void TMidiRouter::LoadFromIni(TIniFile& ini)
{
    // Earlier routes stay in the table as invalid ones, ahead of the loaded routes.
    RemoveAll();
    for (int n = 0; ini.ValueExists(SECTION_ROUTER, IDENT_INNAME + UString::FromInt(n)); ++n)
        FRoutes.AddRouteImpl(new TMidiRoute(FRoutes.GetCount(), ini, n));
    FireRouterChangeEvent();
}

void TMidiRouter::SaveToIni(TIniFile& ini)
{
    int k = 0;
    for (int i = 0; i < FRoutes.GetCount(); ++i) {
        TMidiRoute* route = FRoutes.GetRouteFast(i);
        if (route && route->IsValid())
            route->SaveToIni(ini, k++);
    }
    for (;; ++k) {
        const std::string n = UString::FromInt(k);
        if (!ini.ValueExists(SECTION_ROUTER, IDENT_INNAME + n))
            break;
        ini.DeleteKey(SECTION_ROUTER, IDENT_INNAME + n);
        ini.DeleteKey(SECTION_ROUTER, IDENT_OUTNAME + n);
    }
}

} // namespace Tr
