// SEND: the settings message reaches the chosen port once, the button waits 5000 ms, and a refused
// send says so.
#include "PanelHarness.h"

#include <gtest/gtest.h>

namespace {

const juce::String sendQuestion =
    "Sending the data will write (and overwrite) all 15 programs.\nDo you want to send all programs now?";
const juce::String sendError = "An error occurred when sending the Quorva MIDI 2 File.\nPlease verify the MIDI port.";

} // namespace

TEST(QuorvaContentPanelSend, TheMessageReachesTheChosenPortOnceThenSendWaits)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    const int a = h.outputId(0);
    const int b = h.outputId(1);
    juce::TextButton& send = h.button("sendButton");
    EXPECT_FALSE(send.isEnabled()) << "no port chosen yet";

    h.pick("midiOutCombo", "Synth B");
    EXPECT_TRUE(h.midi().IsOpen(b));
    EXPECT_FALSE(h.midi().IsOpen(a));
    EXPECT_TRUE(send.isEnabled());

    h.pick("stepCountCombo", "6 Steps");
    {
        ModalBoxAnswers answers({"No"});
        h.click("sendButton");
        ASSERT_EQ(answers.boxes().size(), 1u);
        EXPECT_EQ(answers.boxes()[0].title, "Confirm");
        EXPECT_EQ(answers.boxes()[0].message, sendQuestion);
    }
    EXPECT_TRUE(h.midi().SentLog().empty()) << "a declined send sends nothing";
    EXPECT_TRUE(send.isEnabled());

    {
        ModalBoxAnswers answers({"Yes"});
        h.click("sendButton");
        EXPECT_EQ(answers.boxes().size(), 1u);
    }
    const auto sent = h.midi().SentTo(b);
    ASSERT_EQ(sent.size(), 1u) << "one message";
    EXPECT_EQ(sent[0], h.message()) << "exactly the 546 bytes of the editor";
    EXPECT_EQ(h.midi().SentLog().size(), 1u) << "to the chosen port only";
    EXPECT_EQ(send.getButtonText(), "(waiting for device)");
    EXPECT_FALSE(send.isEnabled());
    EXPECT_TRUE(h.panel().isSending());

    const auto sentAt = juce::Time::getMillisecondCounter();
    pumpMessages(4000);
    EXPECT_FALSE(send.isEnabled()) << "still waiting after 4 s";
    EXPECT_EQ(send.getButtonText(), "(waiting for device)");
    pumpMessages(6000, [&send] { return send.isEnabled(); });
    EXPECT_TRUE(send.isEnabled()) << "the wait ends after 5 s";
    EXPECT_GE(juce::Time::getMillisecondCounter() - sentAt, 4900u);
    EXPECT_EQ(send.getButtonText(), "SEND");
    EXPECT_FALSE(h.panel().isSending());

    h.pick("midiOutCombo", "(none)");
    EXPECT_FALSE(send.isEnabled()) << "no port, no SEND";
    EXPECT_FALSE(h.midi().IsOpen(b));

    // The second send uses the same timer and waits again.
    h.pick("midiOutCombo", "Synth A");
    {
        ModalBoxAnswers answers({"Yes"});
        h.click("sendButton");
    }
    EXPECT_EQ(h.midi().SentTo(a).size(), 1u);
    EXPECT_FALSE(send.isEnabled());
    pumpMessages(8000, [&send] { return send.isEnabled(); });
    EXPECT_TRUE(send.isEnabled());
}

TEST(QuorvaContentPanelSend, ARefusedSendShowsTheErrorAndStaysIdle)
{
    QUORVA_REQUIRE_DISPLAY(display);
    PanelHarness h;
    h.start();
    const int b = h.outputId(1);
    h.pick("midiOutCombo", "Synth B");
    juce::TextButton& send = h.button("sendButton");

    for (auto failure : {TestMidi::SendFailure::Refuse, TestMidi::SendFailure::Throw})
    {
        h.midi().SetSendFailure(b, failure);
        ModalBoxAnswers answers({"Yes", "OK"});
        h.click("sendButton");
        ASSERT_EQ(answers.boxes().size(), 2u);
        EXPECT_EQ(answers.boxes()[1].title, "Error");
        EXPECT_EQ(answers.boxes()[1].message, sendError);
        EXPECT_TRUE(send.isEnabled());
        EXPECT_EQ(send.getButtonText(), "SEND");
        EXPECT_FALSE(h.panel().isSending());
    }
    EXPECT_TRUE(h.midi().SentLog().empty());
}
