// Sending, incoming dispatch, and the alias and thru bindings. Run through ctest: see ManagerFixture.h.
#include "ManagerFixture.h"

#include "core/TrException.h"
#include "midi/MidiAlias.h"
#include "midi/MidiRouter.h"

using namespace ManagerTesting;
using TestMidi::SendFailure;
using TestMidi::SendKind;

namespace
{
std::vector<unsigned char> SettingsLikeMessage()
{
    std::vector<unsigned char> m(546);
    m.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < m.size(); ++i)
        m[i] = static_cast<unsigned char>((i * 7) & 0x7F);
    m.back() = 0xF7;
    return m;
}

struct EndingFilter : Tr::MidiOutDeviceFilter
{
    void OnMidiOutFilter(int deviceIndex, const unsigned char**, int*, unsigned char* continueSend) override
    {
        seen.push_back(deviceIndex);
        *continueSend = 0;
    }
    std::vector<int> seen;
};

struct Handler : Tr::MidiMessageHandler
{
    void OnMidiMessage(int deviceIndex, unsigned long long, unsigned char* data, int len, unsigned char* handled) override
    {
        seen.emplace_back(deviceIndex, std::vector<unsigned char>(data, data + len));
        *handled = handle;
    }
    unsigned char handle = 0;
    std::vector<std::pair<int, std::vector<unsigned char>>> seen;
};

struct ThruWatcher : Tr::MidiThruNotifier
{
    void OnMidiThru(Tr::TMidiAliasList*) override { ++told; }
    int told = 0;
};

struct DroppingInFilter : Tr::MidiInDeviceFilter
{
    void OnMidiInFilter(int, unsigned long long*, unsigned char**, int*, unsigned char* continueDispatch) override
    {
        ++calls;
        *continueDispatch = 0;
    }
    int calls = 0;
};
} // namespace

TEST_F(ManagerTest, SendMessageAllDevsReachesEveryOpenOutput)
{
    Start();
    const int a = factory->AddPort(0, "A");
    const int gone = factory->AddPort(0, "Gone");
    const int c = factory->AddPort(0, "C");
    const std::vector<unsigned char> message = SettingsLikeMessage();
    ASSERT_EQ(manager->GetDevCount(0), 3);

    EXPECT_FALSE(manager->SendMessageAllDevs(message.data(), 546)) << "suspended";
    manager->SetSuspended(0);
    EXPECT_FALSE(manager->SendMessageAllDevs(message.data(), 546)) << "no open output";
    manager->Open(0, 0, 1);
    manager->Open(1, 0, 1);
    manager->Open(2, 0, 1);
    factory->RemovePort(gone);
    Rescan(false);
    ASSERT_FALSE(manager->GetDevDescriptor(1, 0)->Exists());

    manager->SetSuspended(1);
    EXPECT_FALSE(manager->SendMessageAllDevs(message.data(), 546)) << "suspended again";
    EXPECT_TRUE(factory->SentLog().empty()) << "a suspended manager touches no port";
    manager->SetSuspended(0);

    ASSERT_TRUE(manager->SendMessageAllDevs(message.data(), 546));
    const std::vector<TestMidi::SentMessage> sent = factory->SentLog();
    ASSERT_EQ(sent.size(), 2u) << "one long message per present, open output";
    EXPECT_EQ(sent[0].portId, c) << "last entry first";
    EXPECT_EQ(sent[1].portId, a);
    for (const TestMidi::SentMessage& m : sent)
    {
        EXPECT_EQ(m.kind, SendKind::Long);
        EXPECT_EQ(m.bytes, message) << "every byte of the 546-byte message arrives unchanged";
    }

    factory->ClearSent();
    factory->SetSendFailure(a, SendFailure::Refuse);
    EXPECT_TRUE(manager->SendMessageAllDevs(message.data(), 546)) << "one port accepting is enough";
    EXPECT_EQ(factory->SentTo(c).size(), 1u);
    factory->SetSendFailure(c, SendFailure::Refuse);
    EXPECT_FALSE(manager->SendMessageAllDevs(message.data(), 546)) << "every port refused";

    // Short messages are packed into one value; the port unpacks what it needs.
    factory->SetSendFailure(a, SendFailure::None);
    factory->SetSendFailure(c, SendFailure::None);
    factory->ClearSent();
    const unsigned char noteOn[] = {0x90, 0x3C, 0x40};
    const unsigned char program[] = {0xC0, 0x05};
    const unsigned char clock[] = {0xF8};
    manager->SendMessage(0, noteOn, 3);
    manager->SendMessage(0, program, 2);
    manager->SendMessage(0, clock, 1);
    const std::vector<std::vector<unsigned char>> shorts = {{0x90, 0x3C, 0x40}, {0xC0, 0x05}, {0xF8}};
    EXPECT_EQ(factory->SentTo(a), shorts);
    for (const TestMidi::SentMessage& m : factory->SentLog())
        EXPECT_EQ(m.kind, SendKind::Short);

    // A filter that ends the send: true, and no later port gets anything.
    factory->ClearSent();
    EndingFilter filter;
    manager->AddOutFilter(&filter);
    EXPECT_TRUE(manager->SendMessageAllDevs(message.data(), 546));
    EXPECT_TRUE(factory->SentLog().empty());
    EXPECT_EQ(filter.seen, std::vector<int>{2}) << "asked for the last open output, then the send ended";
    manager->RemoveOutFilter(&filter);

    EXPECT_EQ(manager->GetNumberOfOpenedDevices(), 2);
    EXPECT_THROW(manager->GetMidiOutputByIndex(-1), Tr::Exception);
    EXPECT_THROW(manager->GetMidiInputByIndex(0), Tr::Exception);
}

TEST_F(ManagerTest, AliasesBindToEntryIndicesAndThruListsFollowRoutes)
{
    Start();
    factory->AddPort(0, "Synth");
    factory->AddPort(0, "Drums");
    const int keys = factory->AddPort(1, "Keys");
    const int synth = factory->FindPort(0, "Synth");
    manager->SetSuspended(0);
    ASSERT_EQ(manager->GetDevCount(0), 2);
    EXPECT_EQ(manager->GetMidiOutputByIndex(1), nullptr) << "a port never opened has no port object";

    Tr::TMidiAliasManager* aliases = Tr::TMidiAliasManager::instance();
    aliases->BeginUpdate();
    aliases->AddAlias("Lead", "Drums", Tr::aliasMidiOut);
    aliases->AddAlias("Nowhere", "Unplugged", Tr::aliasMidiOut);
    aliases->AddAlias("Modem", "ttyS0", Tr::aliasSerialPort);
    aliases->AddAlias("Player", "Keys", Tr::aliasMidiIn);
    aliases->AddAlias("Out", "Synth", Tr::aliasMidiOut);
    aliases->GetAliasByName("Modem", Tr::aliasSerialPort, false)->FUserID = 42;
    aliases->EndUpdate();
    EXPECT_EQ(aliases->GetAliasByName("Lead", Tr::aliasMidiOut, false)->FUserID, 1);
    EXPECT_EQ(aliases->GetAliasByName("Out", Tr::aliasMidiOut, false)->FUserID, 0);
    EXPECT_EQ(aliases->GetAliasByName("Player", Tr::aliasMidiIn, false)->FUserID, 0);
    EXPECT_EQ(aliases->GetAliasByName("Nowhere", Tr::aliasMidiOut, false)->FUserID, -1) << "no such port";
    EXPECT_EQ(aliases->GetAliasByName("Modem", Tr::aliasSerialPort, false)->FUserID, 42) << "not a MIDI alias";

    // Incoming data goes nowhere without a message handler, whatever the thru list holds.
    Tr::TMidiRouter::instance()->AddRoute(aliases->GetAliasByName("Player", Tr::aliasMidiIn, false),
                                          aliases->GetAliasByName("Out", Tr::aliasMidiOut, false));
    auto* input = static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(0, 1));
    ASSERT_EQ(input->GetThruList().Count(), 1);
    manager->Open(0, 0, 1);
    manager->Open(0, 1, 1);
    ASSERT_EQ(factory->Inject(keys, {0x90, 0x3C, 0x40}), 1);
    EXPECT_TRUE(factory->SentLog().empty());

    Handler handler;
    ThruWatcher watcher;
    manager->SetMessageHandler(&handler);
    manager->SetThruNotifier(&watcher);
    factory->Inject(keys, {0x90, 0x3C, 0x40});
    EXPECT_EQ(factory->SentTo(synth), (std::vector<std::vector<unsigned char>>{{0x90, 0x3C, 0x40}}))
        << "passed on to the output the route's alias is bound to";
    EXPECT_EQ(watcher.told, 1);
    ASSERT_EQ(handler.seen.size(), 1u);
    EXPECT_EQ(handler.seen[0].first, 0);

    handler.handle = 1;
    factory->ClearSent();
    factory->Inject(keys, {0x80, 0x3C, 0x00});
    EXPECT_TRUE(factory->SentLog().empty()) << "a handled message keeps off the thru list";

    handler.handle = 0;
    DroppingInFilter drop;
    manager->AddInFilter(&drop);
    factory->Inject(keys, {0x80, 0x3C, 0x00});
    EXPECT_EQ(drop.calls, 1);
    EXPECT_EQ(handler.seen.size(), 2u) << "a dropped message reaches no handler";
    manager->RemoveInFilter(&drop);

    // The input switches reach the port object.
    manager->EnableInTimeCode(0, 0);
    EXPECT_FALSE(manager->IsInTimeCodeEnabled(0));
    EXPECT_TRUE(manager->IsInActiveSensingEnabled(0));
    factory->ClearSent();
    handler.seen.clear();
    factory->Inject(keys, {0xF8, 0xFE});
    ASSERT_EQ(handler.seen.size(), 1u) << "timing clock dropped, active sensing passed";
    EXPECT_EQ(handler.seen[0].second, std::vector<unsigned char>{0xFE});

    manager->SetMessageHandler(nullptr);
    manager->SetThruNotifier(nullptr);
}
