// SEND: the settings message reaches the chosen port once, the button waits 5000 ms, and a refused
// send says so.
#include "PanelHarness.h"

namespace {

using EditorSend = PanelTest;
using Texts = std::vector<std::string>;

const std::string sendQuestion =
    "Confirm: Sending the data will write (and overwrite) all 15 programs.\nDo you want to send all programs now?";

} // namespace

TEST_F(EditorSend, TheMessageReachesTheChosenPortOnceThenSendWaits)
{
    start();
    juce::TextButton& send = button("sendButton");
    pick("midiOutCombo", "Synth B");
    EXPECT_TRUE(midi->IsOpen(synth[1]) && !midi->IsOpen(synth[0]));
    EXPECT_TRUE(send.isEnabled());

    pick("stepCountCombo", "6 Steps");
    {
        ModalAnswers boxes({"No"});
        click("sendButton");
        EXPECT_EQ(boxes.seen(), Texts{sendQuestion});
    }
    EXPECT_TRUE(midi->SentLog().empty()) << "a declined send sends nothing";
    {
        ModalAnswers boxes({"Yes"});
        click("sendButton");
    }
    EXPECT_EQ(midi->SentTo(synth[1]), std::vector<Bytes>{message()}) << "exactly the 546 bytes of the editor, once";
    EXPECT_EQ(midi->SentLog().size(), 1u) << "to the chosen port only";
    EXPECT_EQ(send.getButtonText(), "(waiting for device)");
    EXPECT_FALSE(send.isEnabled());
    EXPECT_TRUE(panel().isSending());

    const auto sentAt = juce::Time::getMillisecondCounter();
    pumpMessages(4000);
    EXPECT_FALSE(send.isEnabled()) << "still waiting after 4 s";
    pumpMessages(6000, [&send] { return send.isEnabled(); });
    EXPECT_TRUE(send.isEnabled()) << "the wait ends after 5 s";
    EXPECT_GE(juce::Time::getMillisecondCounter() - sentAt, 4900u);
    EXPECT_EQ(send.getButtonText(), "SEND");
    EXPECT_FALSE(panel().isSending());

    pick("midiOutCombo", "(none)");
    EXPECT_FALSE(send.isEnabled()) << "no port, no SEND";
    EXPECT_FALSE(midi->IsOpen(synth[1]));

    // The second send uses the same timer and waits again.
    pick("midiOutCombo", "Synth A");
    {
        ModalAnswers boxes({"Yes"});
        click("sendButton");
    }
    EXPECT_EQ(midi->SentTo(synth[0]).size(), 1u);
    EXPECT_FALSE(send.isEnabled());
    pumpMessages(8000, [&send] { return send.isEnabled(); });
    EXPECT_TRUE(send.isEnabled());
}

TEST_F(EditorSend, ARefusedSendShowsTheErrorAndStaysIdle)
{
    start();
    pick("midiOutCombo", "Synth B");
    for (auto failure : {TestMidi::SendFailure::Refuse, TestMidi::SendFailure::Throw}) {
        midi->SetSendFailure(synth[1], failure);
        ModalAnswers boxes({"Yes", "OK"});
        click("sendButton");
        EXPECT_EQ(boxes.seen(), (Texts{sendQuestion, "Error: An error occurred when sending the Quorva MIDI 2 File.\n"
                                                     "Please verify the MIDI port."}));
        EXPECT_TRUE(button("sendButton").isEnabled());
        EXPECT_EQ(button("sendButton").getButtonText(), "SEND");
        EXPECT_FALSE(panel().isSending());
    }
    EXPECT_TRUE(midi->SentLog().empty());
}
