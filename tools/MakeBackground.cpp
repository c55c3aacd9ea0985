// Draws the editor panel's background picture, resources/background.png:
//   cmake --build build --target background_png
// A dark chassis with three light plates where the panel's widget groups sit (the panel's labels
// are black, so they need a light ground): files and port at the top, the program and its sixteen
// steps in the middle, the global values and the bottom line below. The picture's size is the
// panel's size, so every widget position of the editor lies on it.
#include <juce_graphics/juce_graphics.h>

#include <cstdio>

namespace {

constexpr int kWidth = 500;
constexpr int kHeight = 612;
constexpr float kMargin = 6.0f;

const juce::Colour kChassisTop(0xff2b2f36);
const juce::Colour kChassisBottom(0xff1a1d22);
const juce::Colour kPlateTop(0xffdde0e4);
const juce::Colour kPlateBottom(0xffcbcfd4);
const juce::Colour kPlateEdge(0xff0f1114);
const juce::Colour kGroove(0xff9aa0a8);
const juce::Colour kGrooveLight(0xffeef0f2);

void drawPlate(juce::Graphics& g, float top, float bottom)
{
    const juce::Rectangle<float> r(kMargin, top, (float)kWidth - 2.0f * kMargin, bottom - top);
    g.setGradientFill(juce::ColourGradient(kPlateTop, 0.0f, top, kPlateBottom, 0.0f, bottom, false));
    g.fillRoundedRectangle(r, 6.0f);
    // A thin light rim along the top edge and a dark outline make the plate sit on the chassis.
    g.setColour(juce::Colours::white.withAlpha(0.45f));
    g.drawLine(r.getX() + 6.0f, top + 1.0f, r.getRight() - 6.0f, top + 1.0f, 1.0f);
    g.setColour(kPlateEdge.withAlpha(0.8f));
    g.drawRoundedRectangle(r.reduced(0.5f), 6.0f, 1.0f);
}

// An engraved line: dark with a light line just under (or right of) it.
void drawHorizontalGroove(juce::Graphics& g, float y, float x1, float x2)
{
    g.setColour(kGroove);
    g.fillRect(x1, y, x2 - x1, 1.0f);
    g.setColour(kGrooveLight);
    g.fillRect(x1, y + 1.0f, x2 - x1, 1.0f);
}

void drawVerticalGroove(juce::Graphics& g, float x, float y1, float y2)
{
    g.setColour(kGroove);
    g.fillRect(x, y1, 1.0f, y2 - y1);
    g.setColour(kGrooveLight);
    g.fillRect(x + 1.0f, y1, 1.0f, y2 - y1);
}

void drawBackground(juce::Graphics& g)
{
    g.setGradientFill(juce::ColourGradient(kChassisTop, 0.0f, 0.0f, kChassisBottom, 0.0f, (float)kHeight, false));
    g.fillAll();

    const float left = kMargin + 12.0f;
    const float right = (float)kWidth - kMargin - 12.0f;

    // Files and MIDI port: buttons at y 15..75, the port list at y 18.
    drawPlate(g, 6.0f, 84.0f);

    // The program (rows at y 109..199) and its steps (y 212..512).
    drawPlate(g, 92.0f, 521.0f);
    drawHorizontalGroove(g, 154.0f, left, right);
    drawHorizontalGroove(g, 205.0f, left, right);

    // Global values (y 535..570, channel and output type left, portamento rates right) and the
    // bottom line (y 580..604).
    drawPlate(g, 529.0f, 606.0f);
    drawVerticalGroove(g, 272.0f, 535.0f, 570.0f);
    drawHorizontalGroove(g, 575.0f, left, right);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    juce::Image image(juce::Image::RGB, kWidth, kHeight, true);
    {
        juce::Graphics g(image);
        drawBackground(g);
    }
    const juce::File file(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]));
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat png;
    if (!out.openedOk() || !png.writeImageToStream(image, out)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
