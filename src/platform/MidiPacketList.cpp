// Building packet lists (declared in CoreMidi.h). The structures are packed (alignment 1), so
// packets lying unaligned one after the other are read and written through them safely.

#include "platform/CoreMidi.h"

#include <cstring>

namespace {

const size_t kHeaderSize = sizeof(MIDITimeStamp) + sizeof(uint16_t);
const size_t kMaxPacketLength = 65535;
const uint8_t kSysexStart = 0xF0;

}

MIDIPacket* MIDIPacketListInit(MIDIPacketList* list)
{
    if (list == nullptr)
        return nullptr;
    list->numPackets = 0;
    return &list->packet[0];
}

MIDIPacket* MIDIPacketListAdd(MIDIPacketList* list, size_t listSize, MIDIPacket* curPacket,
                              MIDITimeStamp time, size_t nData, const uint8_t* data)
{
    if (list == nullptr || curPacket == nullptr || data == nullptr || nData == 0 || nData > kMaxPacketLength)
        return nullptr;
    const uint8_t* const listStart = reinterpret_cast<const uint8_t*>(list);
    auto fits = [&](const uint8_t* end) { return static_cast<size_t>(end - listStart) <= listSize; };

    if (list->numPackets > 0)
    {
        const size_t curLength = curPacket->length;
        // A SysEx message keeps a packet of its own.
        const bool joins = curPacket->timeStamp == time && curLength > 0 && curPacket->data[0] != kSysexStart
                           && data[0] != kSysexStart && curLength + nData <= kMaxPacketLength;
        if (joins)
        {
            uint8_t* end = curPacket->data + curLength;
            if (!fits(end + nData))
                return nullptr;
            std::memcpy(end, data, nData);
            curPacket->length = static_cast<uint16_t>(curLength + nData);
            return curPacket;
        }
    }

    MIDIPacket* packet = list->numPackets == 0 ? curPacket : MIDIPacketNext(curPacket);
    uint8_t* start = reinterpret_cast<uint8_t*>(packet);
    if (start < listStart || !fits(start + kHeaderSize + nData))
        return nullptr;
    packet->timeStamp = time;
    packet->length = static_cast<uint16_t>(nData);
    std::memcpy(packet->data, data, nData);
    ++list->numPackets;
    return packet;
}
