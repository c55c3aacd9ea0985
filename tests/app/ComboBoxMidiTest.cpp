// The port chooser on the screen, on the scripted MIDI back end.
#include "ComboBoxMidi.h"
#include "PanelHarness.h"
#include "midi/MidiAlias.h"

#include <thread>

namespace {

const char* const kAlias = "MIDI Output Device";
const std::string notPluggedIn = "\nDevice is not plugged in. It will be used after plugging it in.";
using Items = std::vector<std::pair<int, juce::String>>;

// Counts the rebuilds that reach the chooser through the message thread.
struct CountingChooser : ComboBoxMidi
{
    using ComboBoxMidi::ComboBoxMidi;
    void run(void* data, int code) override
    {
        ++postedRuns;
        ComboBoxMidi::run(data, code);
    }
    int postedRuns = 0;
};

struct Listeners : ComboBoxMidiListener, Tr::TMidiAliasChangeListener
{
    void OnComboBoxMidiChange(ComboBoxMidi* sender) override { ids.push_back(sender->getSelectedId()); }
    void OnMidiAliasListChanged() override { ++aliasEvents; }
    std::vector<int> ids;   // the selections reported
    int aliasEvents = 0;
};

class Chooser : public ScriptedMidiTest
{
protected:
    void SetUp() override
    {
        ScriptedMidiTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        chooser = std::make_unique<CountingChooser>(kAlias, false);
        chooser->addMidiListener(&heard);
        chooser->setBounds(0, 0, 300, 20);
        chooser->addToDesktop(0);
        chooser->setVisible(true);
    }
    void TearDown() override
    {
        chooser.reset();
        ScriptedMidiTest::TearDown();
    }

    Items items() const
    {
        Items all;
        for (int i = 0; i < chooser->getNumItems(); ++i)
            all.emplace_back(chooser->getItemId(i), chooser->getItemText(i));
        return all;
    }
    // The user picks an item from the open list (the change handler runs before this returns).
    void pick(int id) { chooser->setSelectedId(id, juce::sendNotificationSync); }
    std::string aliasDevice()
    {
        auto* alias = Tr::TMidiAliasManager::instance()->GetAliasByName(kAlias, Tr::aliasMidiOut, false);
        return alias ? alias->FDevice : "<no alias>";
    }
    bool isOpen(std::size_t n) { return midi->IsOpen(synth[n]); }

    std::unique_ptr<CountingChooser> chooser;   // on the desktop, as in a window
    Listeners heard;
};

} // namespace

TEST_F(Chooser, AnAbsentPortWaitsUntilPluggedInAndChoosingOneClosesTheOthers)
{
    // Before the manager runs, a chosen port only waits, as an unplugged one does.
    chooser->refresh();
    EXPECT_EQ(answering({"OK"}, [&] { pick(2); }), Texts{"Error: Error opening MIDI device 'Synth B':" + notPluggedIn});
    EXPECT_FALSE(isOpen(1));
    manager->SetSuspended(0);
    EXPECT_TRUE(isOpen(1)) << "opened once the manager runs";
    EXPECT_EQ(chooser->getText(), "Synth B");
    pick(1);
    ASSERT_TRUE(isOpen(0));

    // Synth B is unplugged and the manager knows, but the chooser has not heard yet: the user
    // picks from the list as it was.
    midi->RemovePort(synth[1]);
    manager->RemoveDevListChangeListener(chooser.get());
    rescan();
    manager->AddDevListChangeListener(chooser.get());
    ASSERT_EQ(chooser->getItemText(2), "Synth B");
    EXPECT_EQ(answering({"OK"}, [&] { pick(2); }), Texts{"Error: Error opening MIDI device 'Synth B':" + notPluggedIn});
    EXPECT_FALSE(isOpen(0)) << "the other ports are closed all the same";
    EXPECT_EQ(aliasDevice(), "Synth B") << "the alias keeps the port's name";
    EXPECT_EQ(chooser->getSelectedId(), -1);
    midi->RestorePort(synth[1]);
    rescan();
    EXPECT_TRUE(isOpen(1)) << "the waiting port opens when it comes back";
    EXPECT_EQ(chooser->getText(), "Synth B");
    EXPECT_EQ(heard.ids.back(), 2);

    // Choosing a port opens it and closes the others, in one alias update.
    manager->Open(0, 0, 1);   // Synth A is open from earlier
    ASSERT_TRUE(isOpen(0));
    Tr::TMidiAliasManager::instance()->AddAliasChangeListener(&heard);
    {
        ModalAnswers noBoxes;
        pick(3);
        EXPECT_TRUE(isOpen(2) && !isOpen(0)) << "the chosen output opens, every other one closes";
        EXPECT_EQ(aliasDevice(), "Synth C");
        EXPECT_EQ(heard.aliasEvents, 1) << "the alias changes are told once, at the end of the update";
        pick(-1);
        EXPECT_FALSE(isOpen(2)) << "\"(none)\" closes every output";
        EXPECT_EQ(aliasDevice(), "");
        EXPECT_EQ(std::vector<int>(heard.ids.end() - 2, heard.ids.end()), (std::vector<int>{3, -1}));
    }
    Tr::TMidiAliasManager::instance()->RemoveAliasChangeListener(&heard);

    // A failed open is shown with the back end's own text and leaves no port open.
    manager->Open(0, 0, 1);
    midi->SetOpenFailure(synth[2], TestMidi::OpenFailure::Throw, "device busy");
    EXPECT_EQ(answering({"OK"}, [&] { pick(3); }), Texts{"Error: Error opening MIDI device 'Synth C':\ndevice busy"});
    EXPECT_FALSE(isOpen(0) || isOpen(2));
    EXPECT_EQ(chooser->getText(), "(none)");

    // Any other error ends the round at once: the ports after it are not visited.
    struct RefusingClose : Tr::MidiManagerDeviceControlListener
    {
        void OnBeforeCloseMidiDevice(int, unsigned char) override { throw Tr::Exception("Synth A is busy"); }
        void OnMidiErrorMessage(int, unsigned char, const std::string& text) override { throw Tr::Exception(text); }
    } refusing;
    midi->SetOpenFailure(synth[2], TestMidi::OpenFailure::None);
    manager->Open(0, 0, 1);
    manager->AddDeviceControlListener(&refusing);
    EXPECT_EQ(answering({"OK"}, [&] { pick(3); }), Texts{"Error: Error opening MIDI device: Synth A is busy"});
    manager->RemoveDeviceControlListener(&refusing);
    EXPECT_TRUE(isOpen(0) && !isOpen(2));
    EXPECT_EQ(aliasDevice(), "Synth C") << "written before the ports are visited";
}

TEST_F(Chooser, ListsNoneFirstThenThePortsUnderTheirEntryIndexesRebuiltOnTheMessageThread)
{
    EXPECT_EQ(chooser->getNumItems(), 0) << "empty until the first rebuild";
    chooser->refresh();
    EXPECT_EQ(items(), (Items{{-1, "(none)"}, {1, "Synth A"}, {2, "Synth B"}, {3, "Synth C"}})) << "outputs only, ids = entry index + 1";
    EXPECT_EQ(chooser->getText(), "(none)");
    EXPECT_EQ(heard.ids, std::vector<int>{-1}) << "the first selection is always reported";
    EXPECT_EQ(aliasDevice(), "") << "the alias is made, with no port, on the first selection pass";
    midi->RemovePort(synth[1]);
    rescan();
    EXPECT_EQ(items(), (Items{{-1, "(none)"}, {1, "Synth A"}, {3, "Synth C"}})) << "a vanished port leaves a gap; the others keep their ids";
    EXPECT_EQ(heard.ids, std::vector<int>{-1}) << "an unchanged selection tells nobody";
    for (int port : synth)
        midi->RemovePort(port);
    rescan();
    EXPECT_EQ(items(), (Items{{-1, "(none)"}})) << "without ports only \"(none)\" is listed";

    // Notices from another thread are merged into one rebuild on the message thread.
    midi->AddPort(0, "Synth D");
    manager->RemoveDevListChangeListener(chooser.get());   // the manager's notice comes below
    rescan();
    auto noticesFromAWorker = [this](int n) {
        std::thread([&] {
            for (int i = 0; i < n; ++i)
                chooser->OnMidiDeviceListChanged();
        }).join();
    };
    noticesFromAWorker(5);
    EXPECT_EQ(chooser->getNumItems(), 1) << "nothing is rebuilt off the message thread";
    pumpMessages(300);
    EXPECT_EQ(chooser->postedRuns, 1);
    EXPECT_EQ(items().back(), (std::pair<int, juce::String>{4, "Synth D"}));
    noticesFromAWorker(1);
    pumpMessages(300);
    EXPECT_EQ(chooser->postedRuns, 2) << "a notice after the rebuild ran posts a new one";

    // A rebuild still on its way when the chooser goes is dropped, and a chooser may outlive the
    // MIDI library: neither may reach what is gone.
    noticesFromAWorker(1);
    Tr::VuskSystem::shutdown();
    manager = nullptr;
    chooser.reset();
    pumpMessages(300);
}
