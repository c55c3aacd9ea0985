#include "midi/MidiBase.h"

#include "core/TrAssert.h"
#include "midi/MidiLockHold.h"
#include "midi/MidiUtil.h"

namespace Tr
{
namespace
{
constexpr unsigned char SysExStart = 0xF0;
constexpr unsigned char SysExEnd = 0xF7;
constexpr unsigned char TimingClock = 0xF8;
constexpr unsigned char ActiveSensing = 0xFE;

// Length of the System Exclusive piece at data[0] (an 0xF0), within the r bytes that remain: up to
// the next status byte, which belongs to the piece only when it is 0xF7; the rest of the run when
// none follows.
int SysExPieceLength(const unsigned char* data, int r)
{
    for (int i = 1; i < r; ++i)
        if (data[i] >= 0x80)
            return data[i] == SysExEnd ? i + 1 : i;
    return r;
}
} // namespace

// ---- TMidiDeviceBase -------------------------------------------------------------------------

TMidiDeviceBase::TMidiDeviceBase(MidiDeviceDescriptor* desc) : FDesc(desc)
{
    TR_ASSERT(desc != nullptr);
}

TMidiDeviceBase::~TMidiDeviceBase()
{
    TR_ASSERT(IsClosed());
}

void TMidiDeviceBase::Open()
{
    if (IsOpen())
        return;
    {
        MidiLockHold hold(FLock);
        OpenImpl();
    }
    // A back end may return without an exception and still have failed to open; only an open
    // port is named in the open-port list.
    if (IsOpen())
        AddOpenMidiDevice(FDesc->FIsInput, FDesc->GetName());
}

void TMidiDeviceBase::Close()
{
    // The handle is cleared before the back end releases it, so the object counts as closed from
    // here on, and its name leaves the open-port list even when the release throws.
    void* handle = FHandle.exchange(nullptr);
    try
    {
        if (handle != nullptr)
        {
            MidiLockHold hold(FLock);
            CloseImpl(handle);
        }
    }
    catch (...)
    {
        RemoveOpenMidiDevice(FDesc->FIsInput, FDesc->GetName());
        throw;
    }
    RemoveOpenMidiDevice(FDesc->FIsInput, FDesc->GetName());
}

void TMidiDeviceBase::SetDescriptor(MidiDeviceDescriptor* d)
{
    if (d != nullptr && !d->IsEqual(FDesc.get()))
        FDesc.reset(d->Clone());
}

void TMidiDeviceBase::FireMidiErrorEvent(const std::string& message)
{
    if (FDesc->FFactory != nullptr)
        FDesc->FFactory->FireMidiErrorEvent(this, message);
}

// ---- TMidiInputBase --------------------------------------------------------------------------

TMidiInputBase::TMidiInputBase(MidiDeviceDescriptor* desc) : TMidiDeviceBase(desc) {}

int TMidiInputBase::SplitAndDispatchMidiMessage(unsigned long long time, unsigned char* data, int len)
{
    TMidiDeviceDataListener* listener = FDataListener.load();
    if (listener == nullptr)
        return -1;
    if (len < 1 || data == nullptr)
        return 0;

    const bool passActiveSensing = FActiveSensing.load() != 0;
    const bool passTimingClock = FTimingClock.load() != 0;
    int delivered = 0;
    int pos = 0;
    while (pos < len)
    {
        unsigned char* piece = data + pos;
        const int remaining = len - pos;
        const unsigned char status = piece[0];
        int pieceLen = 0;
        bool deliver = true;
        if (status == SysExStart)
            pieceLen = SysExPieceLength(piece, remaining);
        else
        {
            // A data byte in first place (no running status here) or a message cut short takes
            // the whole rest of the run.
            const int n = ShortMidiMessageLength(status);
            pieceLen = (n > 0 && n <= remaining) ? n : remaining;
            if ((status == ActiveSensing && !passActiveSensing) || (status == TimingClock && !passTimingClock))
                deliver = false;
        }
        if (deliver)
        {
            listener->OnMidiDeviceMessage(this, time, piece, pieceLen);
            ++delivered;
        }
        pos += pieceLen;
    }
    return delivered;
}

// ---- TMidiOutputBase -------------------------------------------------------------------------

TMidiOutputBase::TMidiOutputBase(MidiDeviceDescriptor* desc) : TMidiDeviceBase(desc) {}

unsigned char TMidiOutputBase::SendShort(unsigned int packed)
{
    return SendShort(static_cast<unsigned char>(packed & 0xFF), static_cast<unsigned char>((packed >> 8) & 0xFF),
                     static_cast<unsigned char>((packed >> 16) & 0xFF));
}

unsigned char TMidiOutputBase::SendLong(void* data, int len)
{
    // Any non-zero count means sent; narrowing the count itself would read 256 bytes as nothing.
    return SendLongWait(data, len, nullptr) != 0 ? 1 : 0;
}
} // namespace Tr
