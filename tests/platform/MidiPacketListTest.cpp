#include "platform/CoreMidi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Buffer
{
    explicit Buffer(size_t size) : bytes(size, 0) {}
    std::vector<uint8_t> bytes;
    MIDIPacketList* list() { return reinterpret_cast<MIDIPacketList*>(bytes.data()); }
    MIDIPacket* Add(MIDIPacket* at, MIDITimeStamp stamp, size_t len, const uint8_t* data, size_t room = 0)
    {
        return MIDIPacketListAdd(list(), room ? room : bytes.size(), at, stamp, len, data);
    }
};

const uint8_t kNoteOn[] = { 0x90, 60, 100 };

} // namespace

TEST(MidiPacketList, RoomAndLimits)
{
    // The paced send gives MIDIPacketListSizeFor(len) bytes for one packet of len bytes.
    std::vector<uint8_t> big(65536);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    Buffer exact(MIDIPacketListSizeFor(546));
    EXPECT_EQ(exact.bytes.size(), 546u + 14u);
    EXPECT_EQ(exact.Add(MIDIPacketListInit(exact.list()), 0, 546, big.data(), exact.bytes.size() - 1), nullptr)
        << "one byte less does not";
    EXPECT_EQ(exact.list()->numPackets, 0u) << "a refused packet leaves the list empty";
    MIDIPacket* first = MIDIPacketListInit(exact.list());
    ASSERT_EQ(exact.Add(first, 0, 546, big.data()), first) << "the exact size fits";
    EXPECT_EQ(std::memcmp(first->data, big.data(), 546), 0);
    EXPECT_EQ(exact.Add(first, 0, 1, big.data()), nullptr) << "no room to merge";
    EXPECT_EQ(exact.Add(first, 99, 1, big.data()), nullptr) << "no room for another packet";
    EXPECT_EQ(exact.list()->numPackets, 1u) << "a full list stays as it was";

    Buffer buffer(MIDIPacketListSizeFor(65536) + 64);
    first = MIDIPacketListInit(buffer.list());
    EXPECT_EQ(buffer.Add(first, 0, 0, big.data()), nullptr) << "empty packet";
    EXPECT_EQ(buffer.Add(first, 0, 65536, big.data()), nullptr) << "longer than a 16-bit length";
    EXPECT_EQ(MIDIPacketListAdd(nullptr, 100, first, 0, 1, big.data()), nullptr);
    ASSERT_EQ(buffer.Add(first, 5, 65535, big.data()), first);
    EXPECT_NE(buffer.Add(first, 5, 1, big.data()), first) << "a packet never grows beyond 65535 bytes";
    EXPECT_EQ(size_t(first->length), 65535u);
    EXPECT_EQ(std::memcmp(first->data, big.data(), 65535), 0);
    EXPECT_EQ(buffer.list()->numPackets, 2u);
}

TEST(MidiPacketList, LayoutAndMergingRules)
{
    // Packed: a 32-bit count, per packet a 64-bit stamp, a 16-bit length and the bytes, the next
    // packet right behind. Fields are read by value: a reference to them may be misaligned.
    Buffer buffer(256);
    const uint8_t noteOff[] = { 0x80, 60, 0 };
    const uint8_t sysex[] = { 0xF0, 0x7E, 0x7F, 0xF7 };
    MIDIPacket* first = MIDIPacketListInit(buffer.list());
    MIDIPacket* packet = buffer.Add(first, 0x0102030405060708ull, 3, kNoteOn);
    packet = buffer.Add(packet, 0x1112131415161718ull, sizeof sysex, sysex);
    ASSERT_EQ(reinterpret_cast<uint8_t*>(packet), buffer.bytes.data() + 4 + 10 + 3);
    EXPECT_EQ(MIDITimeStamp(packet->timeStamp), 0x1112131415161718ull);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(MIDIPacketNext(packet)), buffer.bytes.data() + 4 + 10 + 3 + 10 + 4);

    // Same stamp, no SysEx: one packet grows; another stamp starts one; SysEx stands alone.
    first = MIDIPacketListInit(buffer.list());
    packet = buffer.Add(first, 10, 3, kNoteOn);
    packet = buffer.Add(packet, 10, 3, noteOff);
    EXPECT_EQ(packet, first);
    EXPECT_EQ(size_t(packet->length), 6u);
    EXPECT_EQ(packet->data[3], 0x80);
    packet = buffer.Add(packet, 11, 3, kNoteOn);
    EXPECT_EQ(buffer.list()->numPackets, 2u) << "another stamp";
    MIDIPacket* sysexPacket = buffer.Add(packet, 11, sizeof sysex, sysex);
    packet = buffer.Add(sysexPacket, 11, 3, noteOff);
    EXPECT_EQ(buffer.list()->numPackets, 4u) << "SysEx keeps a packet of its own, before and after";
    EXPECT_EQ(size_t(sysexPacket->length), sizeof sysex);
}
