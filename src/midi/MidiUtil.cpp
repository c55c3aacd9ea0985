#include "midi/MidiUtil.h"

#include "core/TrLock.h"
#include "core/TrStringList.h"
#include "core/TrUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Tr
{
TStringList* OpenInDevices = nullptr;
TStringList* OpenOutDevices = nullptr;
std::atomic<TLock*> openMidiListLock{nullptr};
std::atomic<bool> midiShareObjectsFreed{false};

const char* const VirtualMidiDevices[] = {
    "LB1", "LB2", "LB3", "LB4", "MIDI Yoke Junction:", "MIDI Yoke NT:", "LoopBE", "Sonic Foundry", "Maple", nullptr};

const int NormalEvents[16] = {0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3, 2, 2, 3, 0};
const int SpecialEvents[16] = {1, 2, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

const std::string SF_WouldBecomeVirtualLoop =
    UString::ResourceString("Opening \"%s\" would create a virtual feedback loop !");
const std::string SUnspecifiedError = UString::ResourceString("Unspecified error");

namespace
{
// Receive threads may open or close ports while the message thread does the same, so the first
// lock is published with a compare-and-swap rather than a plain test-and-create.
TLock* listLock()
{
    TLock* lock = openMidiListLock.load();
    if (lock == nullptr)
    {
        auto* fresh = new TLock();
        if (openMidiListLock.compare_exchange_strong(lock, fresh))
            lock = fresh;
        else
            delete fresh;   // another thread won; lock now holds its lock
    }
    return lock;
}

// Holds the list lock for one function of the group. The lock is left only while the group is
// still alive: once freed, the lock object is gone.
class ListLockHold
{
public:
    ListLockHold() : FLock(listLock()) { FLock->Enter(); }
    ~ListLockHold()
    {
        if (!midiShareObjectsFreed)
            FLock->Leave();
    }
    ListLockHold(const ListLockHold&) = delete;
    ListLockHold& operator=(const ListLockHold&) = delete;

private:
    TLock* FLock;
};

[[maybe_unused]] const bool cleanupRegistered = (std::atexit(FreeMidiDevListBuffer), true);
} // namespace

TStringList* getMidiDevList(unsigned char isInput, unsigned char create)
{
    TStringList** list = nullptr;
    if (isInput == 1)
        list = &OpenInDevices;
    else if (isInput == 0)
        list = &OpenOutDevices;
    else
        return nullptr;
    if (*list == nullptr && create)
        *list = new TStringList();
    return *list;
}

void AddOpenMidiDevice(unsigned char isInput, const std::string& name)
{
    if (midiShareObjectsFreed)
        return;
    ListLockHold hold;
    TStringList* list = getMidiDevList(isInput, 1);
    if (list != nullptr && list->IndexOfIgnoreCase(name) < 0)
        list->Add(name, 0);
}

void RemoveOpenMidiDevice(unsigned char isInput, const std::string& name)
{
    if (midiShareObjectsFreed)
        return;
    ListLockHold hold;
    TStringList* list = getMidiDevList(isInput, 0);
    if (list == nullptr)
        return;
    const int index = list->IndexOfIgnoreCase(name);
    if (index >= 0)
        list->Delete(index);
}

bool IsMidiDeviceOpen(unsigned char isInput, const std::string& name)
{
    if (midiShareObjectsFreed)
        return false;
    ListLockHold hold;
    TStringList* list = getMidiDevList(isInput, 0);
    return list != nullptr && list->IndexOfIgnoreCase(name) >= 0;
}

void midiShareMidiListLockEnter()
{
    if (midiShareObjectsFreed)
        return;
    listLock()->Enter();
}

void midiShareMidiListLockLeave()
{
    if (midiShareObjectsFreed)
        return;
    if (TLock* lock = openMidiListLock.load())
        lock->Leave();
}

void FreeMidiDevListBuffer()
{
    delete OpenInDevices;
    OpenInDevices = nullptr;
    delete OpenOutDevices;
    OpenOutDevices = nullptr;
    delete openMidiListLock.exchange(nullptr);
    midiShareObjectsFreed = true;
}

bool IsMidiDeviceVirtualDriver(const std::string& name)
{
    for (int i = 0; VirtualMidiDevices[i] != nullptr; ++i)
    {
        const char* prefix = VirtualMidiDevices[i];
        if (name.compare(0, std::strlen(prefix), prefix) == 0)
            return true;
    }
    return false;
}

bool WouldBecomeVirtualMidiLoop(unsigned char isInput, const std::string& name)
{
    if (midiShareObjectsFreed || isInput > 1 || !IsMidiDeviceVirtualDriver(name))
        return false;
    // An input closes the loop through an output of the same driver, and the other way round.
    return IsMidiDeviceOpen(isInput ? 0 : 1, name);
}

int ShortMidiMessageLength(int status)
{
    if ((status & 0xF0) == 0xF0)
        return SpecialEvents[status & 0x0F];
    return NormalEvents[(status >> 4) & 0x0F];
}

bool StartsSysexBytes(int first)
{
    return first == 0xF0 || first == 0xF7 || first < 0x80;
}

int PackedMidiMessageLength(const unsigned char bytes[3])
{
    if (!StartsSysexBytes(bytes[0]))
        return ShortMidiMessageLength(bytes[0]);
    if (bytes[0] == 0xF7)
        return 1;
    for (int i = 1; i < 3; ++i)
    {
        if (bytes[i] == 0xF7)
            return i + 1;
        if (bytes[i] >= 0x80)
            return 0;
    }
    return 0;
}

// The conversions work in 64 bits so that values far outside the 14-bit range wrap instead of
// overflowing; the narrowing to unsigned char is the "modulo 256" of the interface.
int toInt(unsigned char lsb, unsigned char msb)
{
    return msb * 128 + lsb - 8192;
}

unsigned char toLSB(int v)
{
    return static_cast<unsigned char>((static_cast<std::int64_t>(v) + 8192) % 128);
}

unsigned char toMSB(int v)
{
    return static_cast<unsigned char>((static_cast<std::int64_t>(v) + 8192) / 128);
}

int UtoInt(unsigned char lsb, unsigned char msb)
{
    return msb * 128 + lsb;
}

unsigned char UtoLSB(int v)
{
    return static_cast<unsigned char>(v % 128);
}

unsigned char UtoMSB(int v)
{
    return static_cast<unsigned char>(v / 128);
}

bool EqualMidiDeviceName(const std::string& a, const std::string& b)
{
    auto squeeze = [](const std::string& s) {
        std::string out = LowerCase(s);
        out.erase(std::remove(out.begin(), out.end(), ' '), out.end());
        return out;
    };
    return squeeze(a) == squeeze(b);
}
} // namespace Tr
