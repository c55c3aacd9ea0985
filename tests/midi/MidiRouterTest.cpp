#include "FreshProcess.h"

#include "core/TempFolder.h"
#include "core/TrIniFile.h"
#include "midi/MidiAlias.h"
#include "midi/MidiRouter.h"

#include <gtest/gtest.h>

#include <string>

using namespace Tr;

namespace
{
struct CountingRouteListener : TMidiRouteChangeListener
{
    void OnMidiRouteListChanged() override { ++calls; }
    int calls = 0;
};

TMidiRouter* R()
{
    return TMidiRouter::instance();
}

TMidiAlias* Alias(const char* name, TAliasType type)
{
    return TMidiAliasManager::instance()->GetAliasByName(name, type, true);
}
} // namespace

TEST(MidiRouter, RoutesByNameThruLookupsAndInvalidationByRemovedAliases)
{
    RunInFreshProcess([] {
        CountingRouteListener l;
        R()->AddRouteChangeListener(&l);
        R()->AddRouteChangeListener(&l);
        EXPECT_EQ(R()->AddRouteImpl("A", "X"), 0);
        TMidiAlias* a = TMidiAliasManager::instance()->GetAliasByName("a", aliasMidiIn, false);
        ASSERT_NE(a, nullptr) << "the input alias is created";
        EXPECT_EQ(a->FProjectUse, 1);
        R()->AddRouteImpl("A", "Y");
        R()->AddRouteImpl("B", "X");
        R()->AddRouteImpl("A", "X");
        EXPECT_EQ(R()->AddRouteImpl("", "X"), 4);
        EXPECT_EQ(l.calls, 5) << "one notification per route, the invalid one included";
        EXPECT_FALSE(R()->FRoutes.GetRoute(4)->IsValid());
        EXPECT_EQ(R()->FRoutes.GetRoute(17), nullptr);

        a->FUserID = 3;
        Alias("B", aliasMidiIn)->FUserID = -1;
        TMidiAliasList thru;
        R()->FRoutes.GetOutAliasesByInUserID(3, thru);
        ASSERT_EQ(thru.Count(), 2) << "each output alias once, at its first route";
        EXPECT_EQ(thru.GetAlias(0)->FName + thru.GetAlias(1)->FName, "XY");
        R()->FRoutes.GetOutAliasesByInUserID(-1, thru);
        EXPECT_EQ(thru.Count(), 0);
        {
            TMidiRouteList found;
            R()->FRoutes.GetRoutesByInputName("b", found);
            ASSERT_EQ(found.GetCount(), 1);
            EXPECT_EQ(found.GetRoute(0)->GetOutputName(), "X");
        }
        EXPECT_EQ(R()->FRoutes.GetRoute(2)->GetInputName(), "B") << "result lists delete nothing";

        // Removed aliases invalidate their routes, which are never deleted.
        TMidiAlias* in = Alias("In", aliasMidiIn);
        TMidiAlias* out = Alias("Out", aliasMidiOut);
        TMidiAlias* other = Alias("Other", aliasMidiOut);
        R()->AddRoute(in, out);
        R()->AddRoute(in, other);
        TMidiRoute* first = R()->FRoutes.GetRoute(5);
        EXPECT_EQ(R()->IndexOf(in, other), 6);
        l.calls = 0;

        TMidiAliasManager::instance()->RemoveAlias(TMidiAliasManager::instance()->IndexOfByRef(out));
        EXPECT_EQ(l.calls, 1) << "the route of the removed alias is dropped, once";
        EXPECT_FALSE(first->IsValid());
        EXPECT_TRUE(R()->IsAliasUsed(out)) << "an invalid route still holds its output alias";
        TMidiAliasManager::instance()->FireAliasChangeEvent();
        EXPECT_EQ(l.calls, 1) << "an invalid route is not dropped again";

        R()->RemoveRoute(5);
        R()->RemoveRoute(17);
        R()->RemoveRoute(-1);
        EXPECT_EQ(l.calls, 1);
        R()->BeginUpdate();
        R()->ModifyRoute(first, in, other);
        R()->ModifyRoute(first, in, other);
        R()->RemoveRoute(6);
        EXPECT_EQ(l.calls, 1);
        R()->EndUpdate();
        EXPECT_EQ(l.calls, 2) << "one notification at the end of the bracket";
        EXPECT_TRUE(first->IsValid());
        R()->ModifyRoute(nullptr, in, nullptr);
        EXPECT_EQ(R()->FRoutes.GetCount(), 8) << "a missing alias adds an invalid route, no crash";
        R()->RemoveAll();
        R()->RemoveAll();
        EXPECT_EQ(l.calls, 4);
        EXPECT_EQ(R()->FRoutes.GetRoute(5), first) << "routes are never deleted while the router lives";
    });
}

TEST(MidiRouter, IniSectionRoundTrip)
{
    const TempFolder dir;
    const std::string path = dir / "routes.ini";
    RunInFreshProcess([&path] {
        TIniFile ini(path);
        for (int n = 0; n < 5; ++n)
            ini.WriteString("MIDI.routes", "In" + std::to_string(n), "old");
        R()->AddRouteImpl(" Keys", "Synth");
        R()->AddRouteImpl("Pads", "Drums");
        R()->AddRouteImpl("Pads", "Synth");
        R()->RemoveRoute(1);
        R()->SaveToIni(ini);
        EXPECT_EQ(ini.ReadString("MIDI.routes", "In1", ""), "Pads");
        EXPECT_EQ(ini.ReadString("MIDI.routes", "Out1", ""), "Synth");
        EXPECT_FALSE(ini.ValueExists("MIDI.routes", "In2")) << "invalid routes are dropped, stale keys deleted";
        ini.WriteString("MIDI.routes", "In3", "skipped after the gap");
        ini.WriteString("MIDI.routes", "Out3", "x");
        ini.WriteToFile();
    });
    RunInFreshProcess([&path] {
        CountingRouteListener l;
        R()->AddRouteChangeListener(&l);
        R()->AddRouteImpl("Earlier", "Route");
        l.calls = 0;
        TIniFile ini(path);
        ini.ReadFromFile();
        R()->LoadFromIni(ini);
        ASSERT_EQ(R()->FRoutes.GetCount(), 3) << "loading stops at the first missing In key";
        EXPECT_FALSE(R()->FRoutes.GetRoute(0)->IsValid()) << "earlier routes stay, invalid, ahead";
        EXPECT_EQ(R()->FRoutes.GetRoute(1)->GetInputName(), " Keys");
        EXPECT_EQ(R()->FRoutes.GetRoute(2)->GetOutputName(), "Synth");
        EXPECT_EQ(l.calls, 4) << "invalidation, two routes, end of the load";
        EXPECT_EQ(TMidiAliasManager::instance()->GetAliasByName("pads", aliasMidiIn, false)->FName, "Pads");

        TIniFile broken("none.ini");
        broken.WriteString("MIDI.routes", "In0", "a\"b");
        broken.WriteString("MIDI.routes", "Out0", "c");
        R()->LoadFromIni(broken);
        EXPECT_FALSE(R()->FRoutes.GetRoute(3)->IsValid()) << "an illegal name gives an invalid route";
        EXPECT_EQ(R()->GetValidCount(), 0);
    });
}
