// The panel's life around the editor: the MIDI library and the settings ini, the .syx files
// (dialogs, drops, the shipped defaults), the unsaved-changes question and sending.
#include "QuorvaContentPanel.h"

#include "JuceUtils.h"
#include "core/TrException.h"
#include "core/TrFiles.h"
#include "core/TrIniFile.h"
#include "core/TrUtil.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"
#include "MessageLoopWake.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace {

const std::string currentSection("Current");
const char* const saveChangesQuestion = "You have made changes to the settings.\nDo you want to save them?";
const char* const sendQuestion =
    "Sending the data will write (and overwrite) all 15 programs.\nDo you want to send all programs now?";
const char* const sendError = "An error occurred when sending the Quorva MIDI 2 File.\n";
const char* const verifyPort = "Please verify the MIDI port.";
const char* const iniNotRead = "The settings file '%s' could not be read, so it is left as it was.";
const char* const settingsNotSaved = "The settings could not be saved:\n";
const char* const fileExtension = ".syx";
const char* const filePatterns = "*.syx";
const char* const fileTypeName = "Quorva Settings File";
constexpr int sendWaitMs = 5000;

// The file dialog asks this about the name as typed; the same question covers the file that will
// be written when that is another one.
bool confirmOverwrite(const std::string& path)
{
    const juce::String message =
        TRANS("There's already a file called: FLNM").replace("FLNM", juce::String::fromUTF8(path.c_str())) + "\n\n"
        + TRANS("Are you sure you want to overwrite it?");
    return juce::AlertWindow::showOkCancelBox(juce::MessageBoxIconType::WarningIcon, TRANS("File already exists"),
                                              message, TRANS("Overwrite"), TRANS("Cancel"), nullptr, nullptr);
}

// Frees a buffer of Tr::getMemoryMappedFile.
struct MappedFileFree
{
    void operator()(void* data) const { Tr::freeMemoryMappedFile(data); }
};

std::string utf8(const juce::String& s)
{
    return s.toStdString();
}

// Reads the settings ini; false when something is there that could not be read. Nothing there
// (not even the folder, or a link to a file that is gone) reads as empty, and the quit makes the
// file. Whatever else is there, a file without read permission, one whose read broke off or
// stopped at a zero byte, a pipe or a device, is never replaced by a file holding only what this
// program read of it.
bool readSettingsIni(Tr::TIniFile& ini, const std::string& path)
{
    if (ini.ReadFromFileNoException())
        return !ini.StoppedAtZeroByte();
    struct stat info;
    return stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

} // namespace

QuorvaContentPanel::QuorvaContentPanel()
{
    Tr::MidiManager::instance()->FPersistent = 1;

    // An ini file beside the program (named like it) wins; otherwise the same name in the
    // per-user settings folder (the ini layer makes that folder when it writes).
    const juce::File program = juce::File::getSpecialLocation(juce::File::currentApplicationFile);
    iniFileName = Tr::ChangeFileExt(utf8(program.getFullPathName()), ".vzrs");
    if (!Tr::FileExists(iniFileName))
        iniFileName = Tr::getVuskSettingsBaseDir() + "/" + Tr::ExtractFileName(iniFileName);

    documentsDir = Tr::getMyDocumentsDirectory() + "/" + "Quorva MIDI 2";
}

juce::File QuorvaContentPanel::resourcesFolder() const
{
    return JuceUtils::getResourcesFolder();
}

// ---------------------------------------------------------------------------------------------
// Life cycle and the settings ini

bool QuorvaContentPanel::init(const juce::String& commandLine)
{
    const bool result = BContentBase::init(commandLine);
    if (result)
        loadSettings();
    updateTitle();
    return result;
}

void QuorvaContentPanel::loadSettings()
{
    Tr::TIniFile ini(iniFileName);
    iniUnreadable = !readSettingsIni(ini, iniFileName);
    JuceUtils::loadWindowPosFromIni(this, ini, preferredWidth, preferredHeight);
    currentFile = juce::String::fromUTF8(ini.ReadString(currentSection, "File", "").c_str());
    documentsDir = ini.ReadString(currentSection, "DocumentsDir", documentsDir);
    Tr::MidiManager::instance()->loadFromIniFile(ini);
    Tr::TMidiAliasManager::instance()->loadFromIniFile(ini);
}

void QuorvaContentPanel::saveSettings()
{
    Tr::TIniFile ini(iniFileName);
    // What other parts of the program keep in the same file survives. A file that could not be
    // read at the start is left alone even when it reads now: this session began with the
    // defaults, which would replace the user's own settings.
    if (iniUnreadable || !readSettingsIni(ini, iniFileName))
        throw Tr::Exception(Tr::UString::FormatS1(iniNotRead, iniFileName));
    JuceUtils::saveWindowPosToIni(this, ini);
    ini.WriteString(currentSection, "File", utf8(currentFile));
    ini.WriteString(currentSection, "DocumentsDir", documentsDir);
    Tr::MidiManager::instance()->saveToIniFile(ini);
    Tr::TMidiAliasManager::instance()->saveToIniFile(ini);
    ini.WriteToFile();
}

void QuorvaContentPanel::start(bool flag)
{
    BContentBase::start(flag);
    Tr::MidiManager* manager = Tr::MidiManager::instance();
    manager->RefreshDevList(0, 0);
    manager->SetSuspended(0);

    if (currentFile.isNotEmpty() && juce::File(currentFile).exists())
    {
        try
        {
            load(currentFile);
            return;
        }
        catch (const Tr::Exception&)
        {
            // A last file that no longer loads is simply forgotten: the defaults take its place.
        }
    }
    currentFile = juce::String();

    try
    {
        loadFromResource("defaults.syx");
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg(juce::String::fromUTF8(e.what()));
        // Inside a timer's callback, just after the box's modal loop: a plain quit could wait for
        // the next X event (see MessageLoopWake).
        MessageLoopWake::quit(1);
    }
}

bool QuorvaContentPanel::canQuit()
{
    if (!saveQuestion())
        return false;
    // The close button is the one road to the end on which the window still stands and the
    // message loop runs, so this is where settings that cannot be saved get a box. close() writes
    // them again, so that what changes until the window goes is kept too.
    try
    {
        saveSettings();
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg(juce::String(settingsNotSaved) + juce::String::fromUTF8(e.what()));
    }
    return true;
}

bool QuorvaContentPanel::saveQuestion()
{
    return askToSaveChanges();
}

void QuorvaContentPanel::close()
{
    sendTimer.reset();
    BContentBase::close();
    // Every road to the end comes here, after the message loop ended, while the window is being
    // deleted: the close button, the system's quit (logout, SIGTERM, SIGHUP), a start that failed.
    // No box can be shown any more (its modal loop would return at once, unseen) and an exception
    // would end the program on the spot, so stderr is all there is. On the close button's road
    // canQuit has shown the same failure in a box already; the system's quit gets none, since the
    // session that asked for it does not wait for an answer.
    try
    {
        saveSettings();
    }
    catch (const Tr::Exception& e)
    {
        std::fprintf(stderr, "Quorva MIDI 2: the settings could not be saved: %s\n", e.what());
    }
}

// ---------------------------------------------------------------------------------------------
// .syx files

bool QuorvaContentPanel::askToSaveChanges()
{
    if (!changed)
        return true;
    unsigned char cancelled = 0;
    // After Yes only edits that are on disk let the quit, open or drop go on: a save dialog
    // cancelled, an overwrite declined or a failed save keep them, as Cancel does.
    if (JuceUtils::Confirm(saveChangesQuestion, &cancelled))
        return save();
    return cancelled == 0;
}

void QuorvaContentPanel::load(const juce::String& path)
{
    Tr::TInputFile file(utf8(path));
    try
    {
        // A settings file has one size only: any other is refused before a byte is read, so a
        // huge file costs neither time nor memory. From 2 GB on the file layer's own text stands.
        if (file.isOpen() && file.size() < Tr::WholeFileSizeLimit)
            QuorvaSettings::checkSize(file.size());
        int size = 0;
        std::string error;
        std::unique_ptr<void, MappedFileFree> data(Tr::getMemoryMappedFile(file, size, &error));
        if (!error.empty())
            throw Tr::Exception(Tr::UString::FormatS1("error loading: %s", error));
        if (!data)
            return;
        settings.loadFromMem(static_cast<const unsigned char*>(data.get()), size);
        refreshAfterLoad();
        currentFile = path;
        updateTitle();
    }
    catch (const Tr::Exception&)
    {
        updateTitle();
        throw;
    }
}

std::string QuorvaContentPanel::initialDialogPath(bool createFolder)
{
    if (currentFile.isNotEmpty())
        return utf8(currentFile);
    if (createFolder)
    {
        if (!Tr::DirExists(documentsDir))
            Tr::ForceDirectories(documentsDir);
        return documentsDir;
    }
    return Tr::DirExists(documentsDir) ? documentsDir : Tr::getMyDocumentsDirectory();
}

void QuorvaContentPanel::load()
{
    if (!askToSaveChanges())
        return;
    const std::string path = Tr::askUserForFileDialog("Open a Quorva MIDI 2 File", "Choose a file:", filePatterns,
                                                      fileTypeName, initialDialogPath(false), false);
    if (path.empty() || !Tr::FileExists(path))
        return;
    try
    {
        load(juce::String::fromUTF8(path.c_str()));
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg(juce::String::fromUTF8(
            Tr::UString::FormatS2("Error loading file '%s':\n%s", path, e.what()).c_str()));
    }
}

bool QuorvaContentPanel::save()
{
    const std::string chosen = Tr::askUserForFileDialog(
        "Save a Quorva MIDI 2 File", "Select a file to overwrite, or type in a new file name:", filePatterns,
        fileTypeName, initialDialogPath(true), true);
    if (chosen.empty())
        return false;
    const std::string path = Tr::StrEndsWith(chosen, fileExtension) ? chosen : chosen + fileExtension;
    if (path != chosen && Tr::FileExists(path) && !confirmOverwrite(path))
        return false;
    try
    {
        save(juce::String::fromUTF8(path.c_str()));
        return true;
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg(juce::String::fromUTF8(
            Tr::UString::FormatS2("Error saving file '%s':\n%s", path, e.what()).c_str()));
        return false;
    }
}

void QuorvaContentPanel::save(const juce::String& path)
{
    unsigned char buffer[QUORVA_TEMPLATE_SIZE_BYTES];
    settings.saveToMem(buffer, QUORVA_TEMPLATE_SIZE_BYTES);
    // Written so that a failed save leaves the old file as it was, and the file stays its owner's.
    const std::string bytes(reinterpret_cast<const char*>(buffer), sizeof buffer);
    std::string reason;
    const Tr::TFileWriteResult written = Tr::WriteFileReplacing(utf8(path), bytes, &reason);
    if (written == Tr::fwNotRegularFile)
        throw Tr::Exception(reason + ": " + utf8(path));
    if (written != Tr::fwOk)
        throw Tr::Exception("file write error: " + reason);
    unchange(true);
    currentFile = path;
    updateTitle();
}

void QuorvaContentPanel::loadFromResource(const juce::String& name)
{
    const juce::File file = resourcesFolder().getChildFile(name);
    if (!file.existsAsFile())
        throw Tr::Exception("Error loading resource: " + utf8(name));
    load(file.getFullPathName());
    // The defaults are never the current file: saving them asks for a name.
    currentFile = juce::String();
    updateTitle();
}

bool QuorvaContentPanel::isInterestedInFileDrag(const juce::StringArray&)
{
    return true;
}

void QuorvaContentPanel::filesDropped(const juce::StringArray& files, int, int)
{
    if (files.isEmpty())
        return;
    const juce::File file(files[0]);
    if (file.isDirectory())
    {
        JuceUtils::ErrorDlg("Error: cannot load a folder.");
        return;
    }
    if (!askToSaveChanges())
        return;
    const juce::String path = file.getFullPathName();
    try
    {
        load(path);
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg(juce::String::fromUTF8(
            Tr::UString::FormatS2("Error loading file '%s':\n%s", utf8(path), e.what()).c_str()));
    }
}

// ---------------------------------------------------------------------------------------------
// Sending

void QuorvaContentPanel::send()
{
    unsigned char buffer[QUORVA_TEMPLATE_SIZE_BYTES];
    settings.saveToMem(buffer, QUORVA_TEMPLATE_SIZE_BYTES);
    // Before the question: the user learns what stands in the way without first agreeing to
    // overwrite the device's programs.
    try
    {
        QuorvaSettings::checkSendable(buffer, QUORVA_TEMPLATE_SIZE_BYTES);
    }
    catch (const Tr::Exception& e)
    {
        JuceUtils::ErrorDlg(juce::String(sendError) + juce::String::fromUTF8(e.what()) + "\nNothing was sent.");
        return;
    }
    if (!JuceUtils::Confirm(sendQuestion))
        return;

    bool sent = false;
    try
    {
        sent = Tr::MidiManager::instance()->SendMessageAllDevs(buffer, QUORVA_TEMPLATE_SIZE_BYTES);
    }
    catch (const Tr::Exception&)
    {
        // A port that throws instead of refusing is the same failure to the user.
    }
    if (!sent)
    {
        JuceUtils::ErrorDlg(juce::String(sendError) + verifyPort);
        return;
    }

    // The controller gives no answer; it is simply given time to store the programs.
    if (!sendTimer)
        sendTimer.reset(Tr::CreateTimer(this, Tr::UString::Empty()));
    sendTimer->SetInterval(sendWaitMs);
    sendTimer->SetEnabled(1);
    sending = true;
    if (sendButton)
        sendButton->setButtonText("(waiting for device)");
    enableButtons();
}

void QuorvaContentPanel::OnTimer()
{
    if (sendTimer)
    {
        sendTimer->SetEnabled(0);
        sending = false;
        enableButtons();
    }
    if (sendButton)
        sendButton->setButtonText("SEND");
}
