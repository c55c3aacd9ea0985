// The application's GUI helpers: message boxes, handing work to the message thread, the
// command-line clean-up, pictures from the resources folder, centring, and the main window's
// position in the settings ini file.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <string>

class Runnable;

namespace Tr {
class TIniFile;
}

class JuceUtils
{
public:
    JuceUtils() = delete;

    // What a button of a multi-button question stands for.
    enum DialogReturnCode
    {
        cancel = 0,
        yes = 1,
        no = 2,
        yesToAll = 3,
        noToAll = 4,
        cancelAll = 5,
    };

    // ---- Message boxes (modal, message thread) ----
    // Yes/No/Cancel question titled "Confirm": true for yes. When given, *cancelled becomes 1
    // for cancel and 0 otherwise.
    static bool Confirm(const juce::String& message, unsigned char* cancelled = nullptr);
    // "yes", "no", the requested "... to all" buttons and "cancel"; callable from any thread.
    static DialogReturnCode Confirm(const juce::String& message, unsigned char yesToAll,
                                    unsigned char noToAll, unsigned char cancelAll);
    static void ErrorDlg(const juce::String& message);   // warning icon, title "Error"
    static void FYI(const juce::String& message);        // information icon, title "Information"

    // ---- Work for the message thread ----
    // Calls runnable->run(data, code) once on the message thread, later; callable from any
    // thread. Every call gives its own run; nothing is merged. False when there is no message
    // manager to run it (nothing will happen then).
    static bool invokeLater(Runnable* runnable, void* data, int code);
    static bool invokeLater(Runnable* runnable);

    // ---- Command line ----
    // Removes the desktop's process-serial-number argument ("-psn..." at the start of an
    // argument) and the blank before it.
    static juce::String cutProcessSerialNumberFromCommandLine(const juce::String& commandLine);
    static bool hasProjectFileExtension(const juce::String& path);   // ends with ".vzrp", any case
    static bool hasProjectFileExtension(juce::File* file);

    // ---- Resources ----
    // The one folder holding the program's resources ("defaults.syx", "background.png"):
    // <folder of the executable>/../share/quorva-midi2. In the build tree that is
    // build/share/quorva-midi2, seen alike from build/src/QuorvaMidi2 and from the test
    // programs in build/tests; `cmake --install` makes <prefix>/share/quorva-midi2 beside
    // <prefix>/bin/QuorvaMidi2.
    static juce::File getResourcesFolder();
    // A picture from the resources folder (or ../../../resources from the working folder, for
    // a run from inside a source checkout); null when not found or not readable.
    static std::unique_ptr<juce::Drawable> getDrawable(const juce::String& name);
    static std::unique_ptr<juce::Drawable> getDrawableMac(const juce::String& name);

    // ---- Window position in section "Current" of the settings ini (in memory only) ----
    // Places c's top-level window where the ini says ("MainLeft", "MainTop"; centred when
    // absent), keeping at least a third of it on the main monitor's work area. A width or
    // height below 0 means the window's current one.
    static void loadWindowPosFromIni(juce::Component* c, Tr::TIniFile& ini, int width, int height);
    static void loadWindowPosSizeFromIni(juce::Component* c, Tr::TIniFile& ini, int defaultWidth,
                                         int defaultHeight);
    static void saveWindowPosSizeToIni(juce::Component* c, Tr::TIniFile& ini, bool withSize);
    static void saveWindowPosToIni(juce::Component* c, Tr::TIniFile& ini);

    // ---- Centring (a width or height below 0 means the component's current one) ----
    static void center(juce::Component* c, int x1, int x2, int y1, int y2, int w, int h);
    static void center(juce::Component* c, int x1, int x2, int y1, int y2);
    static void center(juce::Component* c, juce::Component* other, int w, int h);
    static void center(juce::Component* c, juce::Component* other);
    static void centerHorizontally(juce::Component* c, int y, int x1, int x2, int w, int h);
    static void centerHorizontally(juce::Component* c, int y, int x1, int x2);

    // ---- Odds and ends ----
    static void makeComboBoxTransparent(juce::ComboBox* box, float alpha);
    // Paints c now; false when c is null or the caller is not the message thread.
    static bool immediateRepaint(juce::Component* c);
    static juce::String getHomeDirectory();
};

// "cancel", "yes", "no", "yes to all", "no to all", "cancel all"; "" for any other value.
juce::String JU_getButtonNameForCode(JuceUtils::DialogReturnCode code);

juce::String JuceStringFrom(const std::string& s);
std::string StringFrom(const juce::String& s);
