#include "PanelHarness.h"

#include "JuceUtils.h"
#include "core/TrFiles.h"
#include "midi/MidiManager.h"

#include <cstdlib>

namespace {

// The panel as the program makes it; only where it looks for "defaults.syx" can be changed,
// and it tells the harness when its start has run.
class HarnessPanel : public QuorvaContentPanel
{
public:
    HarnessPanel(const juce::File& resources, bool& started) : FResources(resources), FStarted(started) {}

    void start(bool flag) override
    {
        QuorvaContentPanel::start(flag);
        FStarted = true;
    }

protected:
    juce::File resourcesFolder() const override
    {
        return FResources == juce::File() ? QuorvaContentPanel::resourcesFolder() : FResources;
    }

private:
    juce::File FResources;
    bool& FStarted;
};

class HarnessWindow : public BWindow
{
public:
    HarnessWindow(const juce::File& resources, bool& started)
        : BWindow("Quorva MIDI 2"), FResources(resources), FStarted(started)
    {
        setBackgroundColour(juce::Colour(240, 240, 240));
    }

protected:
    std::unique_ptr<BContentBase> createContentPanel() override
    {
        return std::make_unique<HarnessPanel>(FResources, FStarted);
    }

private:
    juce::File FResources;
    bool& FStarted;
};

juce::FileBrowserComponent* findBrowser(juce::Component& c)
{
    if (auto* b = dynamic_cast<juce::FileBrowserComponent*>(&c))
        return b;
    for (auto* child : c.getChildren())
        if (auto* b = findBrowser(*child))
            return b;
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------

FileDialogAnswers::FileDialogAnswers(std::vector<std::string> answers) : FAnswers(std::move(answers))
{
    startTimer(15);
}

FileDialogAnswers::~FileDialogAnswers()
{
    stopTimer();
}

void FileDialogAnswers::timerCallback()
{
    auto* box = dynamic_cast<juce::FileChooserDialogBox*>(juce::Component::getCurrentlyModalComponent());
    if (!box || box == FLast.getComponent())
        return;
    auto* browser = findBrowser(*box);
    if (!browser)
        return;
    FLast = box;
    FQuestions.push_back({box->getName(), browser->isSaveMode(), browser->getRoot().getFullPathName()});
    if (FNext >= FAnswers.size())
    {
        ADD_FAILURE() << "unexpected file question \"" << box->getName() << "\"";
        box->exitModalState(0);
        return;
    }
    const std::string answer = FAnswers[FNext++];
    if (answer.empty())
    {
        box->exitModalState(0);
        return;
    }
    browser->setFileName(juce::String(answer));
    box->exitModalState(1);
}

// ---------------------------------------------------------------------------------------------

PanelHarness::PanelHarness(const PanelSetup& setup) : FSetup(setup)
{
    // One panel per process: the MIDI library's singletons cannot come back after shutdown.
    static bool used = false;
    if (used)
        ADD_FAILURE() << "a second panel in one process: run the panel tests through ctest";
    used = true;

    if (const char* home = std::getenv("HOME"))
        FOldHome = home;
    setenv("HOME", FHome.path().c_str(), 1);
    FGui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();

    // The manager comes first so that the test back end is in place before the panel exists.
    Tr::MidiManager* manager = Tr::MidiManager::instance();
    FMidi = new TestMidi::TestMidiFactory();
    for (const std::string& name : FSetup.outputs)
        FOutputs.push_back(FMidi->AddPort(0, name));
    manager->AddFactory(FMidi, 1);

    if (!FSetup.iniText.empty())
    {
        Tr::ForceDirectories(Tr::ExtractFileDir(iniPath()));
        TempFolder::writeFile(iniPath(), FSetup.iniText);
    }
}

PanelHarness::~PanelHarness()
{
    quit();
    FGui.reset();
    if (FOldHome.empty())
        unsetenv("HOME");
    else
        setenv("HOME", FOldHome.c_str(), 1);
}

std::vector<ModalBoxAnswers::Box> PanelHarness::start(juce::StringArray boxes)
{
    FStartedFlag = std::make_unique<bool>(false);
    const juce::File resources = FSetup.ownResources ? juce::File(FResources.path()) : juce::File();
    FWindow = std::make_unique<HarnessWindow>(resources, *FStartedFlag);
    ModalBoxAnswers answers(boxes);
    FWindow->init(juce::String(), false, false);
    pumpMessages(20000, [this] { return started(); });
    EXPECT_TRUE(started()) << "the panel was not started";
    EXPECT_EQ(answers.pending(), 0) << "boxes expected at the start were not shown";
    return answers.boxes();
}

bool PanelHarness::started() const
{
    return FStartedFlag && *FStartedFlag;
}

bool PanelHarness::quitRequested()
{
    return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}

QuorvaContentPanel& PanelHarness::panel()
{
    auto* p = dynamic_cast<QuorvaContentPanel*>(window().getContentPanel());
    if (!p)
        throw std::runtime_error("no editor panel");
    return *p;
}

BWindow& PanelHarness::window()
{
    if (!FWindow)
        throw std::runtime_error("the window is not there");
    return *FWindow;
}

juce::ComboBox& PanelHarness::combo(const juce::String& id)
{
    auto* c = dynamic_cast<juce::ComboBox*>(panel().findChildWithID(id));
    if (!c)
        throw std::runtime_error("no combo box " + id.toStdString());
    return *c;
}

juce::TextButton& PanelHarness::button(const juce::String& id)
{
    auto* b = dynamic_cast<juce::TextButton*>(panel().findChildWithID(id));
    if (!b)
        throw std::runtime_error("no button " + id.toStdString());
    return *b;
}

void PanelHarness::pick(const juce::String& comboId, const juce::String& itemText)
{
    juce::ComboBox& c = combo(comboId);
    for (int i = 0; i < c.getNumItems(); ++i)
        if (c.getItemText(i) == itemText)
        {
            // As from the opened list: the change handler runs when the selection changes.
            c.setSelectedItemIndex(i, juce::sendNotificationSync);
            return;
        }
    ADD_FAILURE() << comboId << " has no item \"" << itemText << "\"";
}

void PanelHarness::click(const juce::String& buttonId)
{
    juce::TextButton& b = button(buttonId);
    ASSERT_TRUE(b.isEnabled()) << buttonId << " is disabled";
    // onClick runs after the button's listeners, so after the panel has handled the click.
    bool handled = false;
    b.onClick = [&handled] { handled = true; };
    b.triggerClick();
    pumpMessages(60000, [&handled] { return handled; });
    b.onClick = nullptr;
    ASSERT_TRUE(handled) << "the click on " << buttonId << " was not handled";
}

juce::StringArray PanelHarness::items(const juce::String& comboId)
{
    juce::StringArray texts;
    juce::ComboBox& c = combo(comboId);
    for (int i = 0; i < c.getNumItems(); ++i)
        texts.add(c.getItemText(i));
    return texts;
}

Bytes PanelHarness::message()
{
    Bytes out(QUORVA_TEMPLATE_SIZE_BYTES);
    panel().getSettings().saveToMem(out.data(), QUORVA_TEMPLATE_SIZE_BYTES);
    return out;
}

void PanelHarness::quit()
{
    FWindow.reset();
}

std::string PanelHarness::iniPath() const
{
    // No ini file lies beside the test program, so the panel uses the settings folder.
    const std::string program = juce::File::getSpecialLocation(juce::File::currentApplicationFile)
                                    .getFullPathName()
                                    .toStdString();
    return FHome / (".Quorva Tindral/" + Tr::ExtractFileName(Tr::ChangeFileExt(program, ".vzrs")));
}

std::string PanelHarness::writeFile(const std::string& name, const Bytes& bytes) const
{
    const std::string path = FFiles / name;
    TempFolder::writeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

Bytes PanelHarness::defaults()
{
    return readBytes(JuceUtils::getResourcesFolder().getChildFile("defaults.syx").getFullPathName().toStdString());
}

Bytes PanelHarness::readBytes(const std::string& path)
{
    const std::string s = TempFolder::readFile(path);
    return Bytes(s.begin(), s.end());
}

void PanelHarness::screenshot(const std::string& name)
{
    pumpMessages(200);
    const juce::Image shot = panel().createComponentSnapshot(panel().getLocalBounds(), true, 1.0f);
    const juce::File file(juce::String(QUORVA_BINARY_DIR) + "/" + name);
    file.deleteFile();
    juce::FileOutputStream out(file);
    ASSERT_TRUE(out.openedOk()) << name;
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(shot, out)) << name;
}
