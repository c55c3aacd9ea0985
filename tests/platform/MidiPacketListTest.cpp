#include "platform/CoreMidi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

MIDIPacketList* AsList(std::vector<uint8_t>& buffer)
{
    return reinterpret_cast<MIDIPacketList*>(buffer.data());
}

// Fields of packed packets are read by value: a reference to them may be misaligned.
MIDITimeStamp StampOf(const MIDIPacket* packet)
{
    return packet->timeStamp;
}

size_t LengthOf(const MIDIPacket* packet)
{
    return packet->length;
}

} // namespace

TEST(MidiPacketList, OnePacketInTheRoomTheSenderGives)
{
    // The paced send gives a buffer of len + 16 bytes for one packet of len bytes.
    for (size_t len : { size_t(1), size_t(3), size_t(546), size_t(4000), size_t(65535) })
    {
        std::vector<uint8_t> buffer(len + 16, 0xEE);
        const std::vector<uint8_t> data = Bytes(len, 0xF0);
        MIDIPacket* first = MIDIPacketListInit(AsList(buffer));
        MIDIPacket* packet = MIDIPacketListAdd(AsList(buffer), buffer.size(), first, 12345, len, data.data());
        ASSERT_EQ(packet, first) << "len " << len;
        EXPECT_EQ(AsList(buffer)->numPackets, 1u);
        EXPECT_EQ(StampOf(packet), 12345u);
        EXPECT_EQ(LengthOf(packet), len);
        EXPECT_EQ(std::memcmp(packet->data, data.data(), len), 0);
    }

    // Exactly the size for one packet fits, one byte less does not.
    const std::vector<uint8_t> data = Bytes(546, 0xF0);
    std::vector<uint8_t> exact(MIDIPacketListSizeFor(546));
    EXPECT_EQ(exact.size(), 546u + 14u);
    EXPECT_NE(MIDIPacketListAdd(AsList(exact), exact.size(), MIDIPacketListInit(AsList(exact)), 0, 546, data.data()),
              nullptr);
    EXPECT_EQ(MIDIPacketListAdd(AsList(exact), exact.size() - 1, MIDIPacketListInit(AsList(exact)), 0, 546,
                                data.data()),
              nullptr);
    EXPECT_EQ(AsList(exact)->numPackets, 0u) << "a refused packet leaves the list empty";
}

TEST(MidiPacketList, LayoutIsStampLengthDataWithoutPadding)
{
    std::vector<uint8_t> buffer(64, 0);
    MIDIPacketList* list = AsList(buffer);
    const uint8_t noteOn[] = { 0x90, 60, 100 };
    const uint8_t sysex[] = { 0xF0, 0x7E, 0x7F, 0xF7 };
    MIDIPacket* packet = MIDIPacketListInit(list);
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 0x0102030405060708ull, sizeof noteOn, noteOn);
    ASSERT_NE(packet, nullptr);
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 0x1112131415161718ull, sizeof sysex, sysex);
    ASSERT_NE(packet, nullptr);

    // The reader walks the list as: 32-bit count, then per packet a 64-bit stamp, a 16-bit
    // length and the bytes, the next packet right behind.
    const uint8_t expected[] = { 2, 0, 0, 0,
                                 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 3, 0, 0x90, 60, 100,
                                 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, 4, 0, 0xF0, 0x7E, 0x7F, 0xF7 };
    EXPECT_EQ(std::memcmp(buffer.data(), expected, sizeof expected), 0);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(MIDIPacketNext(&list->packet[0])), buffer.data() + 4 + 13);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(MIDIPacketNext(packet)), buffer.data() + sizeof expected);
}

TEST(MidiPacketList, MergingRules)
{
    std::vector<uint8_t> buffer(256, 0);
    MIDIPacketList* list = AsList(buffer);
    const uint8_t noteOn[] = { 0x90, 60, 100 };
    const uint8_t noteOff[] = { 0x80, 60, 0 };
    const uint8_t sysex[] = { 0xF0, 0x01, 0xF7 };

    // Same stamp, no SysEx: one packet grows.
    MIDIPacket* first = MIDIPacketListInit(list);
    MIDIPacket* packet = MIDIPacketListAdd(list, buffer.size(), first, 10, 3, noteOn);
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 10, 3, noteOff);
    EXPECT_EQ(packet, first);
    EXPECT_EQ(list->numPackets, 1u);
    EXPECT_EQ(LengthOf(packet), 6u);
    EXPECT_EQ(packet->data[3], 0x80);

    // Another stamp starts a packet.
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 11, 3, noteOn);
    EXPECT_NE(packet, first);
    EXPECT_EQ(list->numPackets, 2u);

    // SysEx keeps a packet of its own, before and after.
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 11, 3, sysex);
    EXPECT_EQ(list->numPackets, 3u);
    MIDIPacket* sysexPacket = packet;
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 11, 3, noteOff);
    EXPECT_EQ(list->numPackets, 4u);
    EXPECT_NE(packet, sysexPacket);
    EXPECT_EQ(LengthOf(sysexPacket), 3u);
}

TEST(MidiPacketList, Limits)
{
    const std::vector<uint8_t> big = Bytes(65536, 0);
    std::vector<uint8_t> buffer(MIDIPacketListSizeFor(65536) + 64, 0);
    MIDIPacketList* list = AsList(buffer);
    MIDIPacket* first = MIDIPacketListInit(list);

    EXPECT_EQ(MIDIPacketListAdd(list, buffer.size(), first, 0, 0, big.data()), nullptr) << "empty packet";
    EXPECT_EQ(MIDIPacketListAdd(list, buffer.size(), first, 0, 65536, big.data()), nullptr)
        << "longer than a 16-bit length";
    EXPECT_EQ(MIDIPacketListAdd(nullptr, buffer.size(), first, 0, 1, big.data()), nullptr);
    EXPECT_EQ(list->numPackets, 0u);

    // A packet never grows beyond 65535 bytes: the bytes go into the next packet instead.
    const uint8_t clock = 0xF8;
    std::vector<uint8_t> status(65535, 0x80);
    MIDIPacket* packet = MIDIPacketListAdd(list, buffer.size(), first, 5, 65535, status.data());
    ASSERT_EQ(packet, first);
    packet = MIDIPacketListAdd(list, buffer.size(), packet, 5, 1, &clock);
    ASSERT_NE(packet, nullptr);
    EXPECT_NE(packet, first);
    EXPECT_EQ(LengthOf(first), 65535u);
    EXPECT_EQ(list->numPackets, 2u);

    // A full list refuses more and stays as it was.
    std::vector<uint8_t> small(MIDIPacketListSizeFor(3) + 2, 0);
    MIDIPacketList* smallList = AsList(small);
    const uint8_t noteOn[] = { 0x90, 60, 100 };
    MIDIPacket* only = MIDIPacketListAdd(smallList, small.size(), MIDIPacketListInit(smallList), 1, 3, noteOn);
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(MIDIPacketListAdd(smallList, small.size(), only, 2, 3, noteOn), nullptr) << "no room for a packet";
    EXPECT_EQ(MIDIPacketListAdd(smallList, small.size(), only, 1, 3, noteOn), nullptr) << "no room to merge";
    EXPECT_EQ(smallList->numPackets, 1u);
    EXPECT_EQ(LengthOf(only), 3u);
}
