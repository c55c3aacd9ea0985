#include "ComboBoxMidi.h"

#include "JuceUtils.h"
#include "core/TrException.h"
#include "core/TrUtil.h"

namespace {

constexpr int kNoneId = -1;

// A rebuild posted from another thread. It holds the chooser weakly: the chooser may be deleted
// before the message thread gets to it, and then the rebuild is dropped.
class PostedRefresh final : public Runnable
{
public:
    explicit PostedRefresh(juce::Component::SafePointer<ComboBoxMidi> target) : FTarget(std::move(target)) {}

    void run(void* data, int code) override
    {
        if (auto* chooser = FTarget.getComponent())
            chooser->run(data, code);
        delete this;
    }

private:
    ~PostedRefresh() = default;
    juce::Component::SafePointer<ComboBoxMidi> FTarget;
};

juce::String portName(const Tr::MidiManagerDev& entry)
{
    return juce::String::fromUTF8(entry.GetDescriptor()->GetName().c_str());
}

} // namespace

ComboBoxMidi::ComboBoxMidi(const juce::String& alias, bool input)
    : juce::ComboBox(input ? "ComboBox MIDI IN" : "ComboBox MIDI OUT"),
      isInput(input ? 1 : 0),
      aliasBound(true),
      aliasName(alias)
{
    init();
}

ComboBoxMidi::ComboBoxMidi(bool input, juce::String)
    : juce::ComboBox(input ? "ComboBox MIDI IN" : "ComboBox MIDI OUT"), isInput(input ? 1 : 0), aliasBound(false)
{
    init();
}

void ComboBoxMidi::init()
{
    self = this;
    refreshPending = false;
    refreshing = false;
    addListener(this);
    setEditableText(false);
    setJustificationType(juce::Justification::left);
    setTextWhenNothingSelected("(none)");
    setTextWhenNoChoicesAvailable("(no devices available)");
    auto* manager = Tr::MidiManager::instance();
    manager->AddDevListChangeListener(this);
    manager->AddDeviceControlListener(this);
    Tr::TMidiAliasManager::instance()->AddAliasChangeListener(this);
}

ComboBoxMidi::~ComboBoxMidi()
{
    removeListener(this);
    // Either library singleton may be gone already when the panel outlives the MIDI library.
    if (Tr::MidiManager::IsInstanceAllocated()) {
        Tr::MidiManager::instance()->RemoveDevListChangeListener(this);
        Tr::MidiManager::instance()->RemoveDeviceControlListener(this);
    }
    if (Tr::TMidiAliasManager::IsInstanceAllocated())
        Tr::TMidiAliasManager::instance()->RemoveAliasChangeListener(this);
}

void ComboBoxMidi::refresh()
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    if (messageManager && messageManager->currentThreadHasLockedMessageManager()) {
        // A device-list notice arriving while a rebuild runs (the port count can run a scan)
        // is answered by the rebuild already under way.
        if (!refreshing)
            refreshImpl();
        return;
    }
    bool expected = false;
    if (!refreshPending.compare_exchange_strong(expected, true))
        return;   // one rebuild is posted already and will see this change too
    auto* posted = new PostedRefresh(self);
    if (!JuceUtils::invokeLater(posted)) {
        refreshPending = false;
        posted->run(nullptr, 0);   // finds no message thread to run on: frees itself, does nothing
    }
}

void ComboBoxMidi::OnMidiDeviceListChanged()
{
    refresh();
}

void ComboBoxMidi::run(void*, int)
{
    refreshImpl();
}

void ComboBoxMidi::refreshImpl()
{
    const juce::MessageManagerLock lock;
    refreshPending = false;
    refreshing = true;
    struct Done
    {
        bool& flag;
        ~Done() { flag = false; }
    } done{refreshing};

    auto* manager = Tr::MidiManager::instance();
    const int count = manager->GetDevCount(isInput);
    const int remembered = getSelectedId();
    clear(juce::dontSendNotification);
    addItem("(none)", kNoneId);
    bool rememberedListed = false;
    for (int i = 0; i < count; ++i) {
        Tr::MidiManagerDev* entry = nullptr;
        if (manager->GetDevDescriptor(i, isInput, entry) && entry && entry->Exists()) {
            addItem(portName(*entry), i + 1);
            rememberedListed = rememberedListed || i + 1 == remembered;
        }
    }

    if (aliasBound) {
        selectCurrentDev();
    } else {
        setSelectedId(rememberedListed ? remembered : kNoneId, juce::dontSendNotification);
        checkForChange();
    }
}

void ComboBoxMidi::selectCurrentDev()
{
    if (!aliasBound) {
        checkForChange();
        return;
    }
    if (getNumItems() == 0) {
        // The rebuild ends here again, with at least "(none)" in the list.
        refresh();
        return;
    }
    auto* manager = Tr::MidiManager::instance();
    Tr::TMidiAlias* alias = Tr::TMidiAliasManager::instance()->GetAliasByName(aliasName.toStdString(), aliasType(), true);
    const int index = alias ? manager->GetDevIndex(alias->FDevice, isInput) : -1;
    int id = kNoneId;
    Tr::MidiManagerDev* entry = nullptr;
    if (index >= 0 && manager->GetDevDescriptor(index, isInput, entry) && entry && entry->IsOpen())
        id = index + 1;
    {
        const juce::MessageManagerLock lock;
        setSelectedId(id, juce::dontSendNotification);
    }
    checkForChange();
}

void ComboBoxMidi::checkForChange()
{
    const int id = getSelectedId();
    if (id == lastSelectedId)
        return;
    lastSelectedId = id;
    // A copy: a listener may remove itself while it is told.
    std::vector<ComboBoxMidiListener*> toTell(listeners.begin(), listeners.end());
    for (auto* l : toTell)
        l->OnComboBoxMidiChange(this);
}

Tr::MidiManagerDev* ComboBoxMidi::getSelectedDevice()
{
    const int id = getSelectedId();
    if (id <= 0)
        return nullptr;
    return Tr::MidiManager::instance()->GetDevDescriptor(id - 1, isInput);
}

void ComboBoxMidi::addMidiListener(ComboBoxMidiListener* l)
{
    for (auto* present : listeners)
        if (present == l)
            return;
    listeners.Add(l);
}

void ComboBoxMidi::removeMidiListener(ComboBoxMidiListener* l)
{
    for (int i = 0; i < listeners.Count(); ++i) {
        if (listeners[i] == l) {
            listeners.Remove(i);
            return;
        }
    }
}

void ComboBoxMidi::OnMidiAliasListChanged()
{
    selectCurrentDev();
}

void ComboBoxMidi::OnAfterOpenMidiDevice(int, unsigned char input)
{
    if ((input != 0) == (isInput != 0))
        selectCurrentDev();
}

void ComboBoxMidi::OnAfterCloseMidiDevice(int, unsigned char input)
{
    if ((input != 0) == (isInput != 0))
        selectCurrentDev();
}

void ComboBoxMidi::comboBoxChanged(juce::ComboBox*)
{
    if (!aliasBound)
        return;
    auto* manager = Tr::MidiManager::instance();
    auto* aliases = Tr::TMidiAliasManager::instance();

    const int selectedId = getSelectedId();
    Tr::MidiManagerDev* chosen = selectedId > 0 ? manager->GetDevDescriptor(selectedId - 1, isInput) : nullptr;
    const std::string deviceName = chosen ? chosen->GetDescriptor()->GetName() : std::string();
    const int chosenIndex = chosen ? chosen->GetIndex() : -1;

    // The alias and the ports change inside one update bracket, closed on every way out.
    aliases->BeginUpdate();
    struct EndUpdate
    {
        Tr::TMidiAliasManager* aliases;
        ~EndUpdate() { aliases->EndUpdate(); }
    } endUpdate{aliases};

    try {
        const std::string name = aliasName.toStdString();
        aliases->ModifyAlias(name, aliasType(), name, deviceName);
        const int count = manager->GetDevCount(isInput);
        for (int i = 0; i < count; ++i) {
            if (i != chosenIndex) {
                manager->Close(i, isInput, 0, 1);
                continue;
            }
            try {
                manager->Open(i, isInput, 1);
                // Absent, or the manager is suspended: the open was only queued.
                if (chosen->IsPending())
                    throw Tr::Exception("Device is not plugged in. It will be used after plugging it in.");
            } catch (const Tr::Exception& e) {
                JuceUtils::ErrorDlg(juce::String::fromUTF8(
                    Tr::UString::FormatS2("Error opening MIDI device '%s':\n%s", deviceName, e.what()).c_str()));
            }
        }
    } catch (const Tr::Exception& e) {
        JuceUtils::ErrorDlg("Error opening MIDI device: " + juce::String::fromUTF8(e.what()));
    }
}
