#pragma once

#include "core/TrAutoDelete.h"
#include "core/TrList.h"
#include "midi/MidiAlias.h"

#include <string>

namespace Tr {

class TIniFile;
class TMidiRouter;

extern const std::string SECTION_ROUTER; // "MIDI.routes"
extern const std::string IDENT_INNAME;   // "In"
extern const std::string IDENT_OUTNAME;  // "Out"

// MIDI arriving on the port bound to the input alias is passed on to the port bound to the output
// alias. A route without an input alias is invalid; that is also how a route is removed, so that
// the router never deletes a route while it lives.
class TMidiRoute
{
public:
    TMidiRoute(int index, TMidiAlias* in, TMidiAlias* out);
    TMidiRoute(int index, const std::string& inName, const std::string& outName);
    TMidiRoute(int index, TIniFile& ini, int n);
    virtual ~TMidiRoute() = default;

    TMidiRoute(const TMidiRoute&) = delete;
    TMidiRoute& operator=(const TMidiRoute&) = delete;

    bool IsValid() const;
    // Finds or creates the aliases; names that are not legal alias names give an invalid route.
    void InitByName(const std::string& inName, const std::string& outName);
    int GetInputAliasUserID() const;
    int GetOutputAliasUserID() const;
    std::string GetInputName() const;
    std::string GetOutputName() const;
    void LoadFromIni(TIniFile& ini, int n);
    void SaveToIni(TIniFile& ini, int n);

    TMidiAlias* FInAlias;  // not owned
    TMidiAlias* FOutAlias; // not owned
    int FIndex;            // the number of routes in the table when it was made
};

class TMidiRouteList;

// A table of routes: the router's own, which owns its routes and tells the router of additions, or
// a lookup result, which does neither.
class TMidiRoutes
{
public:
    TMidiRoutes() = default;
    virtual ~TMidiRoutes();

    TMidiRoutes(const TMidiRoutes&) = delete;
    TMidiRoutes& operator=(const TMidiRoutes&) = delete;

    void SetOwnsRoutes(bool owns);
    int AddRouteImpl(TMidiRoute* route);
    void ClearImpl();

    int GetCount();
    int GetCountOfValid();
    TMidiRoute* GetRoute(int index); // null outside the table
    TMidiRoute* GetRouteFast(int index);
    int IndexOf(TMidiRoute* route);
    bool ContainsInUserID(int id);
    void GetRoutesByInUserID(int id, TMidiRouteList& list);
    void GetRoutesByInputAlias(TMidiAlias* alias, TMidiRouteList& list);
    void GetRoutesByInputName(const std::string& name, TMidiRouteList& list);
    // The output aliases of the valid routes whose input alias is bound to entry id, each once,
    // in table order: an input's thru list.
    void GetOutAliasesByInUserID(int id, TMidiAliasList& list);

protected:
    TList<TMidiRoute*> FList;
    unsigned char FOwnsRoutes = 0;
    TMidiRouter* FOwner = nullptr;

    friend class TMidiRouter;
};

// Result of the route lookups; holds routes of the router's table without owning them.
class TMidiRouteList : public TMidiRoutes
{
public:
    void Clear();
    void Delete(int index); // nothing outside the list
};

class TMidiRouteChangeListener
{
public:
    virtual void OnMidiRouteListChanged() = 0;

protected:
    ~TMidiRouteChangeListener() = default;
};

// The process-wide route table. Drops routes whose aliases were removed, and keeps the routes in
// the ini section "MIDI.routes".
class TMidiRouter : public TMidiAliasChangeListener, public AutoDelete
{
public:
    static TMidiRouter* instance();
    static bool IsInstanceAllocated();

    ~TMidiRouter() override;

    void AddRouteChangeListener(TMidiRouteChangeListener* listener);
    void RemoveRouteChangeListener(TMidiRouteChangeListener* listener);
    void BeginUpdate();
    void EndUpdate();
    void FireRouterChangeEvent();

    int AddRoute(TMidiAlias* in, TMidiAlias* out);
    int AddRouteImpl(const std::string& inName, const std::string& outName);
    // A null route adds one for the aliases' names; a given route takes both aliases unless it
    // already holds exactly these two.
    void ModifyRoute(TMidiRoute* route, TMidiAlias* in, TMidiAlias* out);
    void RemoveRoute(int index);
    void RemoveAll();
    int IndexOf(TMidiAlias* in, TMidiAlias* out);
    bool Exists(TMidiAlias* in, TMidiAlias* out);
    bool IsAliasUsed(TMidiAlias* alias);
    int GetValidCount();

    void OnMidiAliasListChanged() override;

    void LoadFromIni(TIniFile& ini);
    void SaveToIni(TIniFile& ini);

    // The route table; the MIDI manager builds its thru lists from it.
    TMidiRoutes FRoutes;

private:
    TMidiRouter();
    TMidiRouter(const TMidiRouter&) = delete;
    TMidiRouter& operator=(const TMidiRouter&) = delete;

    TList<TMidiRouteChangeListener*> FListeners;
    int FUpdateCount = 0;
    unsigned char FChangePending = 0;

    static TMidiRouter* inst;
    static bool hadAlreadyBeenDestroyed;
};

} // namespace Tr
