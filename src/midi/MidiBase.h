// Back-end independent port objects: the open/close protocol with the open-port bookkeeping
// (TMidiDeviceBase), the receiving side that cuts incoming bytes into messages (TMidiInputBase),
// the sending side (TMidiOutputBase) and the back end's error type (EMidiError).
#pragma once

#include "core/TrException.h"
#include "core/TrLock.h"
#include "midi/MidiDevice.h"

#include <atomic>
#include <memory>
#include <string>

namespace Tr
{
class MidiManagerDev;
class TMidiInputBase;
class TMidiOutputBase;

// Thrown by a back end when opening, starting or sending on a port fails.
class EMidiError : public Exception
{
public:
    using Exception::Exception;
};

// Receives every message an input cuts from its incoming data, on the back end's receive thread.
class TMidiDeviceDataListener
{
public:
    virtual void OnMidiDeviceMessage(TMidiInputBase* sender, unsigned long long time, unsigned char* data, int len) = 0;

protected:
    ~TMidiDeviceDataListener() = default;
};

// Polled while a long message is being sent; clearing *continueWait ends the wait early.
class TMidiOutWaitCallback
{
public:
    virtual void OnMidiOutWait(TMidiOutputBase* sender, unsigned char* continueWait) = 0;

protected:
    ~TMidiOutWaitCallback() = default;
};

class TMidiDeviceBase
{
public:
    // Takes ownership of desc, which must not be null.
    explicit TMidiDeviceBase(MidiDeviceDescriptor* desc);
    // The object must be closed: concrete classes call Close() in their own destructors.
    virtual ~TMidiDeviceBase();
    TMidiDeviceBase(const TMidiDeviceBase&) = delete;
    TMidiDeviceBase& operator=(const TMidiDeviceBase&) = delete;

    // Opens the port unless it is open; its name goes into the open-port list only when the port
    // really is open afterwards. Back-end exceptions pass on with nothing changed.
    void Open();
    // Closes the port if open, and always takes its name out of the open-port list.
    void Close();
    bool IsOpen() const { return FHandle.load() != nullptr; }
    bool IsClosed() const { return FHandle.load() == nullptr; }

    MidiDeviceDescriptor* GetDescriptor() const { return FDesc.get(); }
    // Takes a clone of d when it differs from the current descriptor; d stays the caller's.
    void SetDescriptor(MidiDeviceDescriptor* d);
    void FireMidiErrorEvent(const std::string& message);
    virtual void VerifyOpenState() {}
    // Whether the port is open on a system port that has gone since. A port of the same identity
    // may be listed meanwhile (its program restarted at another address): this object reaches
    // nothing until it is opened again.
    virtual bool HasLostPort() { return false; }

    int UserIndex = 0;                    // index of the owning manager entry
    MidiManagerDev* UserObject = nullptr; // the owning manager entry

protected:
    // Opens the system port and sets FHandle; throws EMidiError on failure.
    virtual void OpenImpl() = 0;
    // Releases what OpenImpl acquired for handle.
    virtual bool CloseImpl(void* handle) = 0;

    TLock FLock;   // held around OpenImpl and CloseImpl only
    std::unique_ptr<MidiDeviceDescriptor> FDesc;
    std::atomic<void*> FHandle{nullptr};   // non-null exactly while open
};

class TMidiInputBase : public TMidiDeviceBase
{
public:
    explicit TMidiInputBase(MidiDeviceDescriptor* desc);

    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsStarted() = 0;
    virtual unsigned char GetActiveSensing() { return FActiveSensing; }
    virtual void SetActiveSensing(unsigned char on) { FActiveSensing = on; }
    virtual unsigned char GetTimingClock() { return FTimingClock; }
    virtual void SetTimingClock(unsigned char on) { FTimingClock = on; }
    virtual void SetDataListener(TMidiDeviceDataListener* listener) { FDataListener = listener; }

    // Cuts one run of received bytes into single messages and hands each to the data listener,
    // all with the run's time stamp. Returns the number delivered, -1 without a listener.
    // Incoming bytes are untrusted: no byte and no length makes it read outside data[0, len).
    int SplitAndDispatchMidiMessage(unsigned long long time, unsigned char* data, int len);

protected:
    // Set on the message thread, read on the receive thread.
    std::atomic<TMidiDeviceDataListener*> FDataListener{nullptr};
    std::atomic<unsigned char> FActiveSensing{1};   // 0 drops 0xFE
    std::atomic<unsigned char> FTimingClock{1};     // 0 drops 0xF8
};

class TMidiOutputBase : public TMidiDeviceBase
{
public:
    explicit TMidiOutputBase(MidiDeviceDescriptor* desc);

    // A non-zero result means sent.
    virtual unsigned char SendShort(unsigned char status, unsigned char data1, unsigned char data2) = 0;
    // status in bits 0-7, data1 in bits 8-15, data2 in bits 16-23.
    virtual unsigned char SendShort(unsigned int packed);
    virtual unsigned char SendLong(void* data, int len);
    virtual int SendLongWait(void* data, int len, TMidiOutWaitCallback* callback) = 0;
    virtual int QueuedLongMessages() { return 0; }
};
} // namespace Tr
