#include "JuceUtils.h"

#include "BAlertWindowInfo.h"
#include "JuceUtilsInternalUpdater.h"
#include "Runnable.h"
#include "core/TrFiles.h"
#include "core/TrIniFile.h"

namespace {

const char* const kSection = "Current";
constexpr int kCentred = -1000;

// A width or height below 0 stands for the component's current one.
juce::Point<int> sizeOrCurrent(const juce::Component& c, int w, int h)
{
    return {w < 0 ? c.getWidth() : w, h < 0 ? c.getHeight() : h};
}

// The toolkit's own image loading opens the file as it is, and a named pipe in its place would hold
// the window's start for ever: the file is read through the file layer, which takes regular files
// only, and the image is made from the bytes.
std::unique_ptr<juce::Drawable> drawableFromFile(const juce::File& file)
{
    int size = 0;
    std::unique_ptr<void, void (*)(void*)> data(
        Tr::getMemoryMappedFile(file.getFullPathName().toStdString(), size, nullptr), Tr::freeMemoryMappedFile);
    if (!data)
        return nullptr;
    return juce::Drawable::createFromImageData(data.get(), (size_t)size);
}

int centredStart(int from, int to, int size)
{
    return from + (to - from) / 2 - size / 2;
}

// Where one edge of the window goes: centred for the "no position" value, otherwise as read
// unless more than two thirds of the window would leave the area.
int placeOnArea(int pos, int areaStart, int areaExtent, int size)
{
    if (pos == kCentred)
        return centredStart(areaStart, areaStart + areaExtent, size);
    if (pos < areaStart - size / 3)
        return areaStart;
    if (pos > areaStart + areaExtent - size / 3)
        return areaStart + areaExtent - size;
    return pos;
}

juce::Rectangle<int> mainMonitorWorkArea()
{
    if (auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        return display->userArea;
    return {};
}

} // namespace

// ---- Message boxes ----

bool JuceUtils::Confirm(const juce::String& message, unsigned char* cancelled)
{
    const int result = juce::AlertWindow::showYesNoCancelBox(juce::MessageBoxIconType::QuestionIcon, "Confirm",
                                                             message, {}, {}, {}, nullptr, nullptr);
    if (cancelled)
        *cancelled = result == 0 ? 1 : 0;
    return result == 1;
}

JuceUtils::DialogReturnCode JuceUtils::Confirm(const juce::String& message, unsigned char yesToAll,
                                               unsigned char noToAll, unsigned char cancelAll)
{
    BAlertWindowInfo info;
    int n = 0;
    info.codes[n++] = cancel;
    info.codes[n++] = yes;
    info.codes[n++] = no;
    if (yesToAll)
        info.codes[n++] = JuceUtils::yesToAll;
    if (noToAll)
        info.codes[n++] = JuceUtils::noToAll;
    if (cancelAll)
        info.codes[n++] = JuceUtils::cancelAll;
    info.numButtons = n;

    info.title = "Confirm";
    info.message = message;
    for (int k = 0; k < 5; ++k)
        info.buttonText[k] = JU_getButtonNameForCode(info.codes[k + 1]);
    info.buttonText[5] = JU_getButtonNameForCode(info.codes[0]);
    info.iconType = (int)juce::MessageBoxIconType::QuestionIcon;

    void* result = juce::MessageManager::getInstance()->callFunctionOnMessageThread(
        BAlertWindowInfo::showCallback, &info);
    const auto r = (int)(juce::pointer_sized_int)result;
    return r >= 0 && r < 7 ? info.codes[r] : cancel;
}

void JuceUtils::ErrorDlg(const juce::String& message)
{
    juce::AlertWindow::showMessageBox(juce::MessageBoxIconType::WarningIcon, "Error", message);
}

void JuceUtils::FYI(const juce::String& message)
{
    juce::AlertWindow::showMessageBox(juce::MessageBoxIconType::InfoIcon, "Information", message);
}

// ---- Work for the message thread ----

bool JuceUtils::invokeLater(Runnable* runnable, void* data, int code)
{
    // Without a message manager the work could never run and its carrier would never be freed.
    if (juce::MessageManager::getInstanceWithoutCreating() == nullptr)
        return false;
    (new JuceUtilsInternalUpdater())->start(runnable, data, code);
    return true;
}

bool JuceUtils::invokeLater(Runnable* runnable)
{
    return invokeLater(runnable, nullptr, 0);
}

// ---- Command line ----

juce::String JuceUtils::cutProcessSerialNumberFromCommandLine(const juce::String& commandLine)
{
    // The marker counts only where an argument begins, so a file name holding "-psn" survives.
    int i = -1;
    for (int from = 0;; from = i + 1) {
        i = commandLine.indexOf(from, "-psn");
        if (i < 0)
            return commandLine;
        if (i == 0 || commandLine[i - 1] == ' ')
            break;
    }
    const juce::String before = i > 0 ? commandLine.substring(0, i - 1) : juce::String();
    const int j = commandLine.indexOfChar(i + 1, ' ');
    if (j < 0)
        return before;
    return before + commandLine.substring(j);
}

bool JuceUtils::hasProjectFileExtension(const juce::String& path)
{
    return path.endsWithIgnoreCase(".vzrp");
}

bool JuceUtils::hasProjectFileExtension(juce::File* file)
{
    return file && file->hasFileExtension(".vzrp");
}

// ---- Resources ----

juce::File JuceUtils::getResourcesFolder()
{
    return juce::File::getSpecialLocation(juce::File::currentExecutableFile)
        .getParentDirectory()
        .getSiblingFile("share")
        .getChildFile("quorva-midi2");
}

std::unique_ptr<juce::Drawable> JuceUtils::getDrawable(const juce::String& name)
{
    return getDrawableMac(name);
}

std::unique_ptr<juce::Drawable> JuceUtils::getDrawableMac(const juce::String& name)
{
    const juce::File inResources = getResourcesFolder().getChildFile(name);
    if (inResources.existsAsFile())
        return drawableFromFile(inResources);

    const juce::File inCheckout =
        juce::File::getCurrentWorkingDirectory().getChildFile("../../../resources").getChildFile(name);
    if (inCheckout.existsAsFile())
        return drawableFromFile(inCheckout);
    return nullptr;
}

// ---- Window position ----

void JuceUtils::loadWindowPosFromIni(juce::Component* c, Tr::TIniFile& ini, int width, int height)
{
    if (!c)
        return;
    juce::Component* top = c->getTopLevelComponent();
    const juce::Rectangle<int> area = mainMonitorWorkArea();
    const auto size = sizeOrCurrent(*top, width, height);
    const int x = placeOnArea(ini.ReadInteger(kSection, "MainLeft", kCentred), area.getX(), area.getWidth(), size.x);
    const int y = placeOnArea(ini.ReadInteger(kSection, "MainTop", kCentred), area.getY(), area.getHeight(), size.y);
    top->setBounds(x, y, size.x, size.y);
}

void JuceUtils::loadWindowPosSizeFromIni(juce::Component* c, Tr::TIniFile& ini, int defaultWidth,
                                         int defaultHeight)
{
    const int width = ini.ReadInteger(kSection, "MainWidth", defaultWidth);
    const int height = ini.ReadInteger(kSection, "MainHeight", defaultHeight);
    loadWindowPosFromIni(c, ini, width, height);
}

void JuceUtils::saveWindowPosSizeToIni(juce::Component* c, Tr::TIniFile& ini, bool withSize)
{
    if (!c)
        return;
    juce::Component* top = c->getTopLevelComponent();
    ini.WriteInteger(kSection, "MainLeft", top->getX());
    ini.WriteInteger(kSection, "MainTop", top->getY());
    if (withSize) {
        ini.WriteInteger(kSection, "MainWidth", top->getWidth());
        ini.WriteInteger(kSection, "MainHeight", top->getHeight());
    }
}

void JuceUtils::saveWindowPosToIni(juce::Component* c, Tr::TIniFile& ini)
{
    saveWindowPosSizeToIni(c, ini, false);
}

// ---- Centring ----

void JuceUtils::center(juce::Component* c, int x1, int x2, int y1, int y2, int w, int h)
{
    if (!c)
        return;
    const auto size = sizeOrCurrent(*c, w, h);
    c->setBounds(centredStart(x1, x2, size.x), centredStart(y1, y2, size.y), size.x, size.y);
}

void JuceUtils::center(juce::Component* c, int x1, int x2, int y1, int y2)
{
    center(c, x1, x2, y1, y2, -1, -1);
}

void JuceUtils::center(juce::Component* c, juce::Component* other, int w, int h)
{
    if (!c || !other)
        return;
    center(c, other->getX(), other->getRight(), other->getY(), other->getBottom(), w, h);
}

void JuceUtils::center(juce::Component* c, juce::Component* other)
{
    center(c, other, -1, -1);
}

void JuceUtils::centerHorizontally(juce::Component* c, int y, int x1, int x2, int w, int h)
{
    if (!c)
        return;
    const auto size = sizeOrCurrent(*c, w, h);
    c->setBounds(centredStart(x1, x2, size.x), y, size.x, size.y);
}

void JuceUtils::centerHorizontally(juce::Component* c, int y, int x1, int x2)
{
    centerHorizontally(c, y, x1, x2, -1, -1);
}

// ---- Odds and ends ----

void JuceUtils::makeComboBoxTransparent(juce::ComboBox* box, float alpha)
{
    if (!box)
        return;
    for (int id : {juce::ComboBox::backgroundColourId, juce::ComboBox::outlineColourId,
                   juce::ComboBox::buttonColourId})
        box->setColour(id, box->findColour(id).withAlpha(alpha));
}

bool JuceUtils::immediateRepaint(juce::Component* c)
{
    if (!c || !juce::MessageManager::existsAndIsCurrentThread())
        return false;
    c->repaint();
    if (auto* peer = c->getPeer())
        peer->performAnyPendingRepaintsNow();
    juce::Thread::sleep(1);
    return true;
}

juce::String JuceUtils::getHomeDirectory()
{
    return JuceStringFrom(Tr::getHomeDirectory());
}

juce::String JU_getButtonNameForCode(JuceUtils::DialogReturnCode code)
{
    switch (code) {
    case JuceUtils::cancel: return "cancel";
    case JuceUtils::yes: return "yes";
    case JuceUtils::no: return "no";
    case JuceUtils::yesToAll: return "yes to all";
    case JuceUtils::noToAll: return "no to all";
    case JuceUtils::cancelAll: return "cancel all";
    }
    return {};
}

// Our texts are UTF-8 throughout (port names, file names), so both directions go through UTF-8.
juce::String JuceStringFrom(const std::string& s)
{
    return juce::String::fromUTF8(s.data(), (int)s.size());
}

std::string StringFrom(const juce::String& s)
{
    return s.toStdString();
}
