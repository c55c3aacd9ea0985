// A first panel for the frame, until the editor takes its place: the background picture and the
// MIDI output port chooser.
#include "QuorvaContentPanel.h"

#include "ComboBoxMidi.h"
#include "core/TrAutoDelete.h"
#include "midi/MidiManager.h"

namespace {

class PlainContentPanel : public BContentBase
{
public:
    PlainContentPanel() { Tr::MidiManager::instance(); }

    ~PlainContentPanel() override
    {
        midiOutCombo.reset();
        Tr::VuskSystem::shutdown();
    }

    void createComponents() override
    {
        BContentBase::createComponents();
        midiOutCombo = std::make_unique<ComboBoxMidi>("MIDI Output Device", false);
        midiOutCombo->setBounds(131, 18, 215, 19);
        midiOutCombo->setTooltip("select the MIDI port to which your device is connected");
        addAndMakeVisible(*midiOutCombo);
    }

    void start(bool) override
    {
        auto* manager = Tr::MidiManager::instance();
        manager->RefreshDevList(0, 0);
        manager->SetSuspended(0);
        midiOutCombo->refresh();
    }

private:
    std::unique_ptr<ComboBoxMidi> midiOutCombo;
};

} // namespace

std::unique_ptr<BContentBase> CreateContentPanel()
{
    return std::make_unique<PlainContentPanel>();
}
