// The port chooser on a MIDI manager with the scripted back end, in a real window. The manager is
// a singleton that cannot be made twice in one process: ctest runs every test case in a process of
// its own (run one case at a time when starting this program by hand).
#include "ComboBoxMidi.h"
#include "GuiTestSupport.h"
#include "midi/TestMidiFactory.h"

#include "core/TrAutoDelete.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

const char* const kAlias = "MIDI Output Device";

using Items = std::vector<std::pair<int, juce::String>>;

Items itemsOf(const juce::ComboBox& box)
{
    Items items;
    for (int i = 0; i < box.getNumItems(); ++i)
        items.emplace_back(box.getItemId(i), box.getItemText(i));
    return items;
}

class ChangeLog : public ComboBoxMidiListener
{
public:
    void OnComboBoxMidiChange(ComboBoxMidi* sender) override { ids.push_back(sender->getSelectedId()); }
    std::vector<int> ids;
};

class AliasEvents : public Tr::TMidiAliasChangeListener
{
public:
    void OnMidiAliasListChanged() override { ++count; }
    int count = 0;
};

// Counts the rebuilds that reach the chooser through the message thread.
class CountingChooser : public ComboBoxMidi
{
public:
    using ComboBoxMidi::ComboBoxMidi;
    void run(void* data, int code) override
    {
        ++postedRuns;
        ComboBoxMidi::run(data, code);
    }
    int postedRuns = 0;
};

class ChooserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QUORVA_OPEN_DISPLAY(display);
        if (Tr::MidiManager::IsInstanceAllocated() || madeOne)
            GTEST_FAIL() << "a MIDI manager lived in this process already: run one test case per process (ctest does)";
        madeOne = true;
        TestMidi::ForgetRegisteredBackEnds();   // the machine's own ports would join the scripted ones
        gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        manager = Tr::MidiManager::instance();
        factory = new TestMidi::TestMidiFactory();
        factory->UseManualClock();
        manager->AddFactory(factory, 0);
        synthA = factory->AddPort(0, "Synth A");
        synthB = factory->AddPort(0, "Synth B");
        synthC = factory->AddPort(0, "Synth C");
        keys = factory->AddPort(1, "Keys");
        window = std::make_unique<juce::DocumentWindow>("Chooser", juce::Colours::grey, 0, true);
        window->setBounds(100, 100, 300, 60);
        window->setVisible(true);
    }

    void TearDown() override
    {
        chooser.reset();
        window.reset();
        if (manager)
            Tr::VuskSystem::shutdown();
        gui.reset();
    }

    // Makes the output chooser, shows it and lets it fill itself.
    ComboBoxMidi& makeChooser()
    {
        chooser = std::make_unique<CountingChooser>(kAlias, false);
        chooser->addMidiListener(&changes);
        window->setContentNonOwned(chooser.get(), false);
        chooser->refresh();
        return *chooser;
    }

    // The user picks an item from the open list (the change handler runs before this returns).
    void pick(int id) { chooser->setSelectedId(id, juce::sendNotificationSync); }

    // Lets the manager see what the scripted system now holds.
    void rescan()
    {
        factory->AdvanceClock(2000);
        manager->RefreshDevList(1, 0);
    }

    std::string aliasDevice()
    {
        auto* alias = Tr::TMidiAliasManager::instance()->GetAliasByName(kAlias, Tr::aliasMidiOut, false);
        return alias ? alias->FDevice : "<no alias>";
    }

    static inline bool madeOne = false;
    std::unique_ptr<DisplayConnection> display;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> gui;
    Tr::MidiManager* manager = nullptr;
    TestMidi::TestMidiFactory* factory = nullptr;   // owned by the shutdown registry
    int synthA = -1, synthB = -1, synthC = -1, keys = -1;
    std::unique_ptr<juce::DocumentWindow> window;
    std::unique_ptr<CountingChooser> chooser;
    ChangeLog changes;
};

} // namespace

TEST_F(ChooserTest, ListsNoneFirstThenThePortsUnderTheirEntryIndexes)
{
    chooser = std::make_unique<CountingChooser>(kAlias, false);
    chooser->addMidiListener(&changes);
    EXPECT_EQ(chooser->getName(), "ComboBox MIDI OUT");
    EXPECT_EQ(chooser->getNumItems(), 0) << "empty until the first rebuild";
    EXPECT_EQ(chooser->getTextWhenNothingSelected(), "(none)");
    EXPECT_EQ(chooser->getTextWhenNoChoicesAvailable(), "(no devices available)");

    chooser->refresh();
    EXPECT_EQ(itemsOf(*chooser), (Items{{-1, "(none)"}, {1, "Synth A"}, {2, "Synth B"}, {3, "Synth C"}}))
        << "outputs only, ids = entry index + 1";
    EXPECT_EQ(chooser->getSelectedId(), -1);
    EXPECT_EQ(changes.ids, (std::vector<int>{-1})) << "the first selection is always reported";
    EXPECT_EQ(aliasDevice(), "") << "the alias is made, with no port, on the first selection pass";

    factory->RemovePort(synthB);
    rescan();
    EXPECT_EQ(itemsOf(*chooser), (Items{{-1, "(none)"}, {1, "Synth A"}, {3, "Synth C"}}))
        << "a vanished port leaves a gap; the others keep their ids";
    EXPECT_EQ(changes.ids, (std::vector<int>{-1})) << "an unchanged selection tells nobody";

    factory->RestorePort(synthB);
    rescan();
    EXPECT_EQ(itemsOf(*chooser), (Items{{-1, "(none)"}, {1, "Synth A"}, {2, "Synth B"}, {3, "Synth C"}}));
}

TEST_F(ChooserTest, WithoutPortsOnlyNoneIsListed)
{
    factory->RemovePort(synthA);
    factory->RemovePort(synthB);
    factory->RemovePort(synthC);
    makeChooser();
    EXPECT_EQ(itemsOf(*chooser), (Items{{-1, "(none)"}}));
    EXPECT_EQ(chooser->getText(), "(none)");
}

TEST_F(ChooserTest, ChoosingAPortOpensItAndClosesTheOthersInOneAliasUpdate)
{
    manager->SetSuspended(0);
    makeChooser();
    manager->Open(0, 0, 1);   // Synth A is open from earlier
    ASSERT_TRUE(factory->IsOpen(synthA));
    AliasEvents aliasEvents;
    Tr::TMidiAliasManager::instance()->AddAliasChangeListener(&aliasEvents);
    ModalBoxAnswers noBoxes;

    pick(3);
    EXPECT_TRUE(factory->IsOpen(synthC));
    EXPECT_FALSE(factory->IsOpen(synthA)) << "every other output closes";
    EXPECT_EQ(aliasDevice(), "Synth C");
    EXPECT_EQ(aliasEvents.count, 1) << "the alias changes are told once, at the end of the update";
    EXPECT_EQ(chooser->getSelectedId(), 3);
    EXPECT_EQ(changes.ids, (std::vector<int>{-1, 3}));

    pick(-1);
    EXPECT_FALSE(factory->IsOpen(synthC)) << "\"(none)\" closes every output";
    EXPECT_EQ(aliasDevice(), "");
    EXPECT_EQ(chooser->getSelectedId(), -1);
    EXPECT_EQ(changes.ids, (std::vector<int>{-1, 3, -1}));
    EXPECT_TRUE(noBoxes.boxes().empty());
    Tr::TMidiAliasManager::instance()->RemoveAliasChangeListener(&aliasEvents);
}

TEST_F(ChooserTest, AnAbsentPortIsUsedOnceItIsPluggedIn)
{
    manager->SetSuspended(0);
    makeChooser();
    manager->Open(0, 0, 1);

    // Synth B is unplugged and the manager knows, but the chooser has not heard yet: the user
    // picks from the list as it was.
    factory->RemovePort(synthB);
    manager->RemoveDevListChangeListener(chooser.get());
    rescan();
    manager->AddDevListChangeListener(chooser.get());
    ASSERT_EQ(chooser->getItemText(2), "Synth B");
    {
        ModalBoxAnswers answers({"OK"});
        pick(2);
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].title, "Error");
        EXPECT_EQ(answers.boxes()[0].message,
                  "Error opening MIDI device 'Synth B':\nDevice is not plugged in. It will be used after plugging it in.");
    }
    EXPECT_FALSE(factory->IsOpen(synthA)) << "the other ports are closed all the same";
    EXPECT_EQ(aliasDevice(), "Synth B") << "the alias keeps the port's name";
    EXPECT_EQ(chooser->getSelectedId(), -1);
    EXPECT_TRUE(manager->GetDevDescriptor(1, 0)->IsPending());

    factory->RestorePort(synthB);
    rescan();
    EXPECT_TRUE(factory->IsOpen(synthB)) << "the waiting port opens when it comes back";
    EXPECT_EQ(chooser->getSelectedId(), 2);
    EXPECT_EQ(chooser->getText(), "Synth B");
    EXPECT_EQ(changes.ids.back(), 2);
}

TEST_F(ChooserTest, WhileTheManagerIsSuspendedTheChoiceWaits)
{
    makeChooser();
    {
        ModalBoxAnswers answers({"OK"});
        pick(1);
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].message,
                  "Error opening MIDI device 'Synth A':\nDevice is not plugged in. It will be used after plugging it in.");
    }
    EXPECT_FALSE(factory->IsOpen(synthA));
    EXPECT_EQ(chooser->getSelectedId(), -1);

    manager->SetSuspended(0);
    EXPECT_TRUE(factory->IsOpen(synthA));
    EXPECT_EQ(chooser->getSelectedId(), 1);
}

TEST_F(ChooserTest, AFailedOpenIsShownAndLeavesNoPortOpen)
{
    manager->SetSuspended(0);
    makeChooser();
    manager->Open(0, 0, 1);
    factory->SetOpenFailure(synthC, TestMidi::OpenFailure::Throw, "device busy");
    factory->SetOpenFailure(synthB, TestMidi::OpenFailure::StayClosed);
    {
        ModalBoxAnswers answers({"OK", "OK"});
        pick(3);
        pick(2);
        ASSERT_EQ(answers.boxes().size(), 2u);
        EXPECT_EQ(answers.boxes()[0].title, "Error");
        EXPECT_EQ(answers.boxes()[0].message, "Error opening MIDI device 'Synth C':\ndevice busy")
            << "the back end's own text";
        EXPECT_EQ(answers.boxes()[1].message,
                  "Error opening MIDI device 'Synth B':\nMIDI OUT: MIDI OUT device \"Synth B\" could not be opened.");
    }
    EXPECT_FALSE(factory->IsOpen(synthA)) << "the other ports are closed all the same";
    EXPECT_FALSE(factory->IsOpen(synthB));
    EXPECT_FALSE(factory->IsOpen(synthC));
    EXPECT_EQ(chooser->getSelectedId(), -1);
    EXPECT_EQ(chooser->getText(), "(none)");
}

TEST_F(ChooserTest, NoticesFromAnotherThreadAreMergedIntoOneRebuild)
{
    makeChooser();
    factory->AddPort(0, "Synth D");
    manager->RemoveDevListChangeListener(chooser.get());   // the manager's notice comes below
    rescan();

    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            chooser->OnMidiDeviceListChanged();
    });
    worker.join();
    EXPECT_EQ(chooser->getNumItems(), 4) << "nothing is rebuilt off the message thread";
    pumpMessages(300);
    EXPECT_EQ(chooser->postedRuns, 1);
    EXPECT_EQ(itemsOf(*chooser).back(), (std::pair<int, juce::String>{4, "Synth D"}));

    std::thread later([&] { chooser->OnMidiDeviceListChanged(); });
    later.join();
    pumpMessages(300);
    EXPECT_EQ(chooser->postedRuns, 2) << "a notice after the rebuild ran posts a new one";

    // A rebuild still on its way when the chooser goes is dropped.
    std::thread last([&] { chooser->OnMidiDeviceListChanged(); });
    last.join();
    window->clearContentComponent();
    chooser.reset();
    pumpMessages(300);
}

TEST_F(ChooserTest, OutlivesTheMidiLibrary)
{
    makeChooser();
    Tr::VuskSystem::shutdown();
    manager = nullptr;
    window->clearContentComponent();
    chooser.reset();   // must not reach the deleted singletons
}
