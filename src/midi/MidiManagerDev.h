// One entry of the MIDI manager's port lists: a port that the system lists now or listed earlier in
// this run. Entries are never removed while the manager lives, so an entry's index keeps naming the
// same port (by display name) while the port comes and goes.
#pragma once

#include "midi/MidiAlias.h"
#include "midi/MidiBase.h"
#include "midi/MidiDevice.h"

#include <memory>
#include <string>

namespace Tr
{
class MidiManager;
class TIniFile;

class MidiManagerDev
{
public:
    explicit MidiManagerDev(int index);
    // Keeps a clone of d; a default descriptor when d is null.
    MidiManagerDev(MidiDeviceDescriptor* d, int index);
    virtual ~MidiManagerDev();
    MidiManagerDev(const MidiManagerDev&) = delete;
    MidiManagerDev& operator=(const MidiManagerDev&) = delete;

    // Binds the aliases assigned to this port's display name to this entry (present entries only).
    virtual void RebuildAliasList() = 0;
    // Makes a fresh port object through the descriptor's factory; none when the factory makes none.
    virtual void CreateDevice() = 0;
    virtual void loadFromIniFile(TIniFile& ini, int k) = 0;
    virtual void saveToIniFile(TIniFile& ini, int k) = 0;
    virtual void AssignFrom(const MidiManagerDev& o);
    virtual bool IsInput() const = 0;

    // Keeps the entry and its port object describing the same port: the entry takes a clone of d
    // when it differs; the port object takes d too, or is deleted when its type code differs.
    void SetDescriptor(MidiDeviceDescriptor* d);
    // A descriptor for a port known only by name and type code, bound to the registered factory of
    // that type (or to none). The port object is left alone.
    void SetDescriptor(unsigned int type, unsigned char isInput, const std::string& name);
    // Takes dev as the port object; the old one is closed and deleted.
    void ReplaceDevice(TMidiDeviceBase* dev);
    // The port object, made first when there is none; null when the factory makes none.
    TMidiDeviceBase* GetDev();

    bool Exists() const { return FExists != 0; }
    bool IsPending() const { return FPending != 0; }
    bool IsOpen() const { return FDev && FDev->IsOpen(); }
    int GetIndex() const { return FIndex; }
    std::string GetLastError() const { return FLastError; }
    MidiDeviceDescriptor* GetDescriptor() const { return FDescriptor.get(); }
    std::string GetName() const { return FDescriptor->GetName(); }

protected:
    friend class MidiManager;

    // Takes dev as the port object and tells it its owner.
    void AdoptDevice(TMidiDeviceBase* dev);
    // The same for a port object just made from the entry's descriptor.
    void InstallDevice(TMidiDeviceBase* dev);
    // Closes and deletes the port object.
    void DropDevice();
    // Refills the bound aliases of that type and gives them this entry's index.
    void BindAliases(TAliasType type);

    int FIndex;
    std::unique_ptr<MidiDeviceDescriptor> FDescriptor;   // never null
    unsigned char FPending = 0;   // an open was asked for and is not done yet
    unsigned char FExists = 0;    // present at the last scan of its factory
    unsigned char FSeen = 0;      // scratch mark of the running refresh
    TMidiAliasList FAliases;      // not owning
    std::string FLastError;
    std::unique_ptr<TMidiDeviceBase> FDev;
};

class MMDevIn : public MidiManagerDev
{
public:
    MMDevIn(MidiDeviceDescriptor* d, int index);
    // A placeholder for a port known only by name and type code (from the ini file).
    MMDevIn(unsigned int type, int index, const std::string& name);
    ~MMDevIn() override;

    void RebuildAliasList() override;
    void CreateDevice() override;
    void loadFromIniFile(TIniFile& ini, int k) override;
    void saveToIniFile(TIniFile& ini, int k) override;
    void AssignFrom(const MidiManagerDev& o) override;
    virtual void AssignFrom(const MMDevIn& o);
    bool IsInput() const override { return true; }

    // Fills the thru list from the routes whose input alias is bound to this entry.
    virtual void RebuildThruList();
    void SetActiveSensing(unsigned char on);
    void SetTimingClock(unsigned char on);
    bool IsActiveSensingEnabled() const { return FActiveSensing != 0; }
    bool IsTimingClockEnabled() const { return FTimingClock != 0; }
    TMidiAliasList& GetThruList() { return FThruList; }

private:
    friend class MidiManager;

    TMidiAliasList FThruList;          // output aliases that incoming data is passed on to
    unsigned char FTimingClock = 1;    // pass MIDI timing clock (0xF8)
    unsigned char FActiveSensing = 1;  // pass active sensing (0xFE)
};

class MMDevOut : public MidiManagerDev
{
public:
    MMDevOut(MidiDeviceDescriptor* d, int index);
    MMDevOut(unsigned int type, int index, const std::string& name);

    void RebuildAliasList() override;
    void CreateDevice() override;
    void loadFromIniFile(TIniFile& ini, int k) override;
    void saveToIniFile(TIniFile& ini, int k) override;
    void AssignFrom(const MidiManagerDev& o) override;
    virtual void AssignFrom(const MMDevOut& o);
    bool IsInput() const override { return false; }
};
} // namespace Tr
