// Sending, incoming dispatch, and the alias and thru bindings.
#include "ManagerFixture.h"

#include "core/TrException.h"
#include "midi/MidiAlias.h"
#include "midi/MidiRouter.h"

using namespace ManagerTesting;
using TestMidi::SendFailure;
using TestMidi::SendKind;
using Bytes = std::vector<unsigned char>;

namespace
{
// Every hook of the send and dispatch paths: the filters drop what they see, the handler records it.
struct Hooks : Tr::MidiMessageHandler, Tr::MidiThruNotifier, Tr::MidiInDeviceFilter, Tr::MidiOutDeviceFilter
{
    void OnMidiMessage(int deviceIndex, unsigned long long, unsigned char* data, int len, unsigned char* handled) override
    {
        seen.emplace_back(deviceIndex, Bytes(data, data + len));
        *handled = handle;
    }
    void OnMidiThru(Tr::TMidiAliasList*) override { ++thru; }
    void OnMidiInFilter(int, unsigned long long*, unsigned char**, int*, unsigned char* go) override
    {
        ++filtered;
        *go = 0;
    }
    void OnMidiOutFilter(int deviceIndex, const unsigned char**, int*, unsigned char* go) override
    {
        outFiltered.push_back(deviceIndex);
        *go = 0;
    }
    unsigned char handle = 0;
    int thru = 0, filtered = 0;
    std::vector<std::pair<int, Bytes>> seen;
    std::vector<int> outFiltered;
};
} // namespace

TEST_F(ManagerTest, SendMessageAllDevsReachesEveryOpenOutput)
{
    Fresh([&] {
        const auto [a, gone, c] = AddPorts({{0, "A"}, {0, "Gone"}, {0, "C"}});
        Bytes message(546);
        for (std::size_t i = 0; i < message.size(); ++i)
            message[i] = static_cast<unsigned char>((i * 7) & 0x7F);
        message.front() = 0xF0;
        message.back() = 0xF7;
        auto sendAll = [&] { return manager->SendMessageAllDevs(message.data(), 546); };
        ASSERT_EQ(manager->GetDevCount(0), 3);
        manager->SetSuspended(0);
        EXPECT_FALSE(sendAll()) << "no open output";
        for (int i = 0; i < 3; ++i)
            manager->Open(i, 0, 1);
        factory->RemovePort(gone);
        Rescan(false);
        manager->SetSuspended(1);
        EXPECT_FALSE(sendAll()) << "suspended again";
        EXPECT_TRUE(factory->SentLog().empty()) << "a suspended manager touches no port";
        manager->SetSuspended(0);

        ASSERT_TRUE(sendAll());
        const std::vector<TestMidi::SentMessage> sent = factory->SentLog();
        ASSERT_EQ(sent.size(), 2u) << "one long message per present, open output";
        EXPECT_EQ(sent[0].portId, c) << "last entry first";
        EXPECT_EQ(sent[1].portId, a);
        for (const TestMidi::SentMessage& m : sent)
        {
            EXPECT_EQ(m.kind, SendKind::Long);
            EXPECT_EQ(m.bytes, message) << "every byte of the 546-byte message arrives unchanged";
        }
        factory->SetSendFailure(a, SendFailure::Refuse);
        EXPECT_TRUE(sendAll()) << "one port accepting is enough";
        factory->SetSendFailure(c, SendFailure::Refuse);
        EXPECT_FALSE(sendAll()) << "every port refused";

        // Short messages are packed into one value; the port unpacks what it needs.
        factory->SetSendFailure(a, SendFailure::None);
        factory->ClearSent();
        const unsigned char noteOn[] = {0x90, 0x3C, 0x40}, program[] = {0xC0, 0x05}, clock[] = {0xF8};
        manager->SendMessage(0, noteOn, 3);
        manager->SendMessage(0, program, 2);
        manager->SendMessage(0, clock, 1);
        EXPECT_EQ(factory->SentTo(a), (std::vector<Bytes>{{0x90, 0x3C, 0x40}, {0xC0, 0x05}, {0xF8}}));
        EXPECT_EQ(factory->SentLog()[0].kind, SendKind::Short);

        // A short message whose length does not fit its status would go out cut or padded: refused.
        // SysEx bytes go out whole at any length, pieces that go on from an earlier one too.
        factory->ClearSent();
        const unsigned char cut[] = {0x90, 0x3C}, overlong[] = {0xC0, 0x05, 0x06}, clockAndMore[] = {0xF8, 0x01};
        EXPECT_FALSE(manager->SendMessage(0, cut, 2));
        EXPECT_FALSE(manager->SendMessage(0, overlong, 3));
        EXPECT_FALSE(manager->SendMessageAllDevs(clockAndMore, 2));
        EXPECT_TRUE(factory->SentLog().empty()) << "nothing refused reaches a port";
        const std::vector<Bytes> sysex = {{0xF0, 0xF7}, {0xF0, 0x7D, 0xF7}, {0xF0}, {0x12, 0x34, 0xF7}, {0xF7}};
        for (const Bytes& m : sysex)
            EXPECT_TRUE(manager->SendMessage(0, m.data(), static_cast<int>(m.size()))) << m.size() << " bytes";
        EXPECT_EQ(factory->SentTo(a), sysex);
        for (const TestMidi::SentMessage& m : factory->SentLog())
            EXPECT_EQ(m.kind, SendKind::Long);

        // A filter that ends the send: true, and no later port gets anything.
        factory->ClearSent();
        Hooks filter;
        manager->AddOutFilter(&filter);
        EXPECT_TRUE(sendAll());
        EXPECT_TRUE(factory->SentLog().empty());
        EXPECT_EQ(filter.outFiltered, std::vector<int>{2}) << "asked for the last open output, then the send ended";
        manager->RemoveOutFilter(&filter);
        EXPECT_THROW(manager->GetMidiOutputByIndex(-1), Tr::Exception);
    });
}

TEST_F(ManagerTest, AliasesBindToEntryIndicesAndThruListsFollowRoutes)
{
    Fresh([&] {
        const auto [synth, drums, keys] = AddPorts({{0, "Synth"}, {0, "Drums"}, {1, "Keys"}});
        manager->SetSuspended(0);
        EXPECT_EQ(manager->GetMidiOutputByIndex(1), nullptr) << "a port never opened has no port object";

        Tr::TMidiAliasManager* aliases = Tr::TMidiAliasManager::instance();
        auto alias = [&](const char* name, Tr::TAliasType type) { return aliases->GetAliasByName(name, type, false); };
        aliases->BeginUpdate();
        aliases->AddAlias("Lead", "Drums", Tr::aliasMidiOut);
        aliases->AddAlias("Nowhere", "Unplugged", Tr::aliasMidiOut);
        aliases->AddAlias("Player", "Keys", Tr::aliasMidiIn);
        aliases->AddAlias("Out", "Synth", Tr::aliasMidiOut);
        aliases->AddAlias("Modem", "ttyS0", Tr::aliasSerialPort);
        alias("Modem", Tr::aliasSerialPort)->FUserID = 42;
        aliases->EndUpdate();
        EXPECT_EQ(alias("Modem", Tr::aliasSerialPort)->FUserID, 42) << "not a MIDI alias";
        EXPECT_EQ(alias("Lead", Tr::aliasMidiOut)->FUserID, 1);
        EXPECT_EQ(alias("Out", Tr::aliasMidiOut)->FUserID, 0);
        EXPECT_EQ(alias("Player", Tr::aliasMidiIn)->FUserID, 0);
        EXPECT_EQ(alias("Nowhere", Tr::aliasMidiOut)->FUserID, -1) << "no such port";

        // Incoming data goes nowhere without a message handler, whatever the thru list holds.
        Tr::TMidiRouter::instance()->AddRoute(alias("Player", Tr::aliasMidiIn), alias("Out", Tr::aliasMidiOut));
        ASSERT_EQ(static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(0, 1))->GetThruList().Count(), 1);
        manager->Open(0, 0, 1);
        manager->Open(0, 1, 1);
        ASSERT_EQ(factory->Inject(keys, {0x90, 0x3C, 0x40}), 1);
        EXPECT_TRUE(factory->SentLog().empty());

        Hooks handler;
        manager->SetMessageHandler(&handler);
        manager->SetThruNotifier(&handler);
        factory->Inject(keys, {0x90, 0x3C, 0x40});
        EXPECT_EQ(factory->SentTo(synth), (std::vector<Bytes>{{0x90, 0x3C, 0x40}}))
            << "passed on to the output the route's alias is bound to";
        EXPECT_EQ(handler.thru, 1);
        ASSERT_EQ(handler.seen.size(), 1u);
        EXPECT_EQ(handler.seen[0].first, 0);

        handler.handle = 1;
        factory->ClearSent();
        factory->Inject(keys, {0x80, 0x3C, 0x00});
        EXPECT_TRUE(factory->SentLog().empty()) << "a handled message keeps off the thru list";

        handler.handle = 0;
        manager->AddInFilter(&handler);
        factory->Inject(keys, {0x80, 0x3C, 0x00});
        EXPECT_EQ(handler.filtered, 1);
        EXPECT_EQ(handler.seen.size(), 2u) << "a dropped message reaches no handler";
        manager->RemoveInFilter(&handler);

        // The input switches reach the port object.
        manager->EnableInTimeCode(0, 0);
        EXPECT_FALSE(manager->IsInTimeCodeEnabled(0));
        handler.seen.clear();
        factory->Inject(keys, {0xF8, 0xFE});
        ASSERT_EQ(handler.seen.size(), 1u) << "timing clock dropped, active sensing passed";
        EXPECT_EQ(handler.seen[0].second, Bytes{0xFE});
        manager->SetMessageHandler(nullptr);
        manager->SetThruNotifier(nullptr);
    });
}
