// The yardstick for bench/startup.sh: the smallest JUCE application that shows one window, built
// with the same compiler flags and JUCE library as the program.
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace {

class BareWindow : public juce::DocumentWindow
{
public:
    BareWindow()
        : juce::DocumentWindow("Bare JUCE window", juce::Colours::lightgrey,
                               juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton)
    {
        setUsingNativeTitleBar(true);
        setContentOwned(new juce::Component(), false);
        setContentComponentSize(500, 610);
        centreWithSize(getWidth(), getHeight());
        setVisible(true);
    }

    void closeButtonPressed() override { juce::JUCEApplicationBase::quit(); }
};

class BareApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Bare JUCE window"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }
    void initialise(const juce::String&) override { window = std::make_unique<BareWindow>(); }
    void shutdown() override { window.reset(); }

private:
    std::unique_ptr<BareWindow> window;
};

juce::JUCEApplicationBase* createApplication()
{
    return new BareApplication();
}

} // namespace

int main(int argc, char* argv[])
{
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main(argc, const_cast<const char**>(argv));
}
