// The identity of one system port (MidiDeviceDescriptor) and the abstract port back end that lists
// the system's ports and makes port objects for them (MidiDeviceFactory).
#pragma once

#include "core/TrAutoDelete.h"
#include "core/TrList.h"
#include "core/TrLock.h"

#include <string>
#include <vector>

namespace Tr
{
class MidiDeviceFactory;
class TMidiDeviceBase;
class TStringList;

// Port type codes: four characters, the first in the lowest byte; the ini file writes them as
// 8 upper-case hex digits.
constexpr unsigned int MakeMidiPortType(char a, char b, char c, char d)
{
    return static_cast<unsigned int>(static_cast<unsigned char>(a))
           | static_cast<unsigned int>(static_cast<unsigned char>(b)) << 8
           | static_cast<unsigned int>(static_cast<unsigned char>(c)) << 16
           | static_cast<unsigned int>(static_cast<unsigned char>(d)) << 24;
}
constexpr unsigned int PortTypeMIDI = MakeMidiPortType('M', 'I', 'D', 'I');   // 0x4944494D, the system back end
constexpr unsigned int PortTypeVMID = MakeMidiPortType('V', 'M', 'I', 'D');   // 0x44494D56, no factory here
constexpr unsigned int PortTypeIntM = MakeMidiPortType('I', 'n', 't', 'M');   // 0x4D746E49, no factory here

// Told of device errors that a back end reports after a port was opened.
class TMidiDeviceErrorListener
{
public:
    virtual void OnMidiDeviceError(TMidiDeviceBase* device, const std::string& message) = 0;

protected:
    ~TMidiDeviceErrorListener() = default;
};

// Every holder owns its own copy: factories hand out clones, port objects and manager entries keep
// clones of their own.
class MidiDeviceDescriptor
{
public:
    MidiDeviceDescriptor() = default;
    MidiDeviceDescriptor(MidiDeviceFactory* factory, unsigned char isInput, int systemIndex, const std::string& name,
                         const std::string& serial, const std::string& interfaceName, const std::string& publicName);
    virtual ~MidiDeviceDescriptor() = default;

    virtual void AssignFrom(const MidiDeviceDescriptor& o);
    virtual MidiDeviceDescriptor* Clone() const;
    // Same physical port, whatever its index (see the .cpp for the exact rule).
    virtual bool Matches(const MidiDeviceDescriptor* o) const;
    // Every field the same.
    virtual bool IsEqual(const MidiDeviceDescriptor* o) const;

    // The display name used everywhere: FName, followed by " (n)" from the second like-named
    // port on.
    std::string GetName() const;
    unsigned int GetType() const;
    std::string GetTypeName() const;
    TMidiDeviceBase* CreateDevice();
    TMidiDeviceBase* CreateInputDevice();
    TMidiDeviceBase* CreateOutputDevice();
    void InvalidateSerialAndInterface();

    MidiDeviceFactory* FFactory = nullptr;   // not owned
    unsigned char FIsInput = 0;
    int FSystemIndex = 0;
    std::string FName;
    std::string FQualifier;
    int FDupNumber = 0;
    std::string FInterfaceName;   // hardware unit
    std::string FSerial;          // port group within the unit
    std::string FPublicName;

protected:
    MidiDeviceDescriptor(const MidiDeviceDescriptor&) = default;
    MidiDeviceDescriptor& operator=(const MidiDeviceDescriptor&) = default;
};

// A port back end. Port lists come from a cache that is refreshed when it was last asked for
// 1500 ms or more ago, so one refresh serves a burst of queries.
class MidiDeviceFactory : public AutoDelete
{
public:
    MidiDeviceFactory();
    ~MidiDeviceFactory() override;
    MidiDeviceFactory(const MidiDeviceFactory&) = delete;
    MidiDeviceFactory& operator=(const MidiDeviceFactory&) = delete;

    // Delete every descriptor in list, empty it and fill it with fresh descriptors of the system's
    // ports of that direction.
    virtual void recreateCache(unsigned char isInput, TList<MidiDeviceDescriptor*>& list) = 0;
    virtual int GetNumDevs(unsigned char isInput) = 0;
    virtual unsigned int GetType() = 0;
    virtual std::string GetTypeName(unsigned char isInput) = 0;
    // out ends up holding exactly one clone per cached port, in cache order, owned by the caller.
    // Elements out already held are deleted (or were deleted before, when out held more).
    virtual void GetDeviceList(unsigned char isInput, TList<MidiDeviceDescriptor*>& out);
    // One line per cached port: GetName() with the system index as tag.
    virtual void GetDeviceList(unsigned char isInput, TStringList& out);
    virtual void GetPublicDeviceNameList(unsigned char isInput, TStringList& out);
    // A new, closed port object owning its own clone of desc; null for a null desc.
    virtual TMidiDeviceBase* CreateDevice(MidiDeviceDescriptor* desc) = 0;

    void requireCache();
    void SetCacheCount(unsigned char isInput, int count, unsigned char grow);
    TMidiDeviceBase* CreateInputDevice(MidiDeviceDescriptor* desc);
    TMidiDeviceBase* CreateOutputDevice(MidiDeviceDescriptor* desc);
    void FireMidiErrorEvent(TMidiDeviceBase* device, const std::string& message);

    // getMilliTime() of the last requireCache call; 0 makes the next call refresh (the manager
    // zeroes it to force a fresh listing).
    int FLastCacheTime = 0;
    TMidiDeviceErrorListener* FErrorListener = nullptr;   // not owned

protected:
    // The clock of the cache rule; test factories replace it to step time by hand.
    virtual int CurrentMilliTime();
    TList<MidiDeviceDescriptor*>& CacheOf(unsigned char isInput) { return isInput ? FInputCache : FOutputCache; }

    TLock FLock;   // guards both caches
    TList<MidiDeviceDescriptor*> FInputCache;    // owned, deleted explicitly
    TList<MidiDeviceDescriptor*> FOutputCache;   // owned, deleted explicitly

private:
    // One line per cached port (tag: system index): its display name, or its public name when
    // publicNames is set, skipping ports without one.
    void FillNameList(unsigned char isInput, TStringList& out, bool publicNames);
    void NumberDuplicates(TList<MidiDeviceDescriptor*>& cache, std::vector<MidiDeviceDescriptor*>& renumber);
};
} // namespace Tr
