#include "midi/MidiDevice.h"

#include "core/TrFiles.h"
#include "core/TrStringList.h"
#include "core/TrUtil.h"
#include "midi/MidiLockHold.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Tr
{
namespace
{
bool SameDirection(unsigned char a, unsigned char b)
{
    return (a == 0) == (b == 0);
}
} // namespace

// ---- MidiDeviceDescriptor --------------------------------------------------------------------

MidiDeviceDescriptor::MidiDeviceDescriptor(MidiDeviceFactory* factory, unsigned char isInput, int systemIndex,
                                           const std::string& name, const std::string& serial,
                                           const std::string& interfaceName, const std::string& publicName)
    : FFactory(factory), FIsInput(isInput), FSystemIndex(systemIndex), FName(name), FInterfaceName(interfaceName),
      FSerial(serial), FPublicName(publicName)
{
}

void MidiDeviceDescriptor::AssignFrom(const MidiDeviceDescriptor& o)
{
    if (&o != this)
        *this = o;
}

MidiDeviceDescriptor* MidiDeviceDescriptor::Clone() const
{
    auto* copy = new MidiDeviceDescriptor();
    copy->AssignFrom(*this);
    return copy;
}

bool MidiDeviceDescriptor::Matches(const MidiDeviceDescriptor* o) const
{
    if (o == nullptr)
        return false;
    if (FFactory != nullptr && o->FFactory != nullptr && FFactory != o->FFactory)
        return false;
    if (!SameDirection(FIsInput, o->FIsInput) || FName != o->FName || FQualifier != o->FQualifier)
        return false;
    // Without identifiers of our own, only the duplicate number tells like-named ports apart.
    // The choice rests on this side alone, so a.Matches(b) and b.Matches(a) may differ.
    if (FSerial.empty() && FInterfaceName.empty())
        return FDupNumber == o->FDupNumber;
    return CompareText(FSerial, o->FSerial) == 0 && CompareText(FInterfaceName, o->FInterfaceName) == 0;
}

bool MidiDeviceDescriptor::IsEqual(const MidiDeviceDescriptor* o) const
{
    return o != nullptr && FFactory == o->FFactory && SameDirection(FIsInput, o->FIsInput)
           && FDupNumber == o->FDupNumber && FSystemIndex == o->FSystemIndex && FName == o->FName
           && FQualifier == o->FQualifier && FSerial == o->FSerial && FPublicName == o->FPublicName
           && FInterfaceName == o->FInterfaceName;
}

std::string MidiDeviceDescriptor::GetName() const
{
    if (FDupNumber < 2)
        return FName;
    return UString::FormatS2("%s (%d)", FName, FDupNumber);
}

unsigned int MidiDeviceDescriptor::GetType() const
{
    return FFactory != nullptr ? FFactory->GetType() : 0;
}

std::string MidiDeviceDescriptor::GetTypeName() const
{
    return FFactory != nullptr ? FFactory->GetTypeName(FIsInput) : std::string();
}

TMidiDeviceBase* MidiDeviceDescriptor::CreateDevice()
{
    return FFactory != nullptr ? FFactory->CreateDevice(this) : nullptr;
}

TMidiDeviceBase* MidiDeviceDescriptor::CreateInputDevice()
{
    return FIsInput != 0 ? CreateDevice() : nullptr;
}

TMidiDeviceBase* MidiDeviceDescriptor::CreateOutputDevice()
{
    return FIsInput == 0 ? CreateDevice() : nullptr;
}

void MidiDeviceDescriptor::InvalidateSerialAndInterface()
{
    FInterfaceName.clear();
    FSerial.clear();
}

// ---- MidiDeviceFactory -----------------------------------------------------------------------

MidiDeviceFactory::MidiDeviceFactory() = default;

MidiDeviceFactory::~MidiDeviceFactory()
{
    SetCacheCount(0, 0, false);
    SetCacheCount(1, 0, false);
}

int MidiDeviceFactory::CurrentMilliTime()
{
    return getMilliTime();
}

void MidiDeviceFactory::requireCache()
{
    const int now = CurrentMilliTime();
    const int last = FLastCacheTime;
    FLastCacheTime = now;
    // A caller that keeps asking within 1500 ms of its previous request keeps the old lists,
    // however old they are.
    const long long elapsed = static_cast<long long>(now) - last;
    if (last != 0 && elapsed >= 0 && elapsed <= 1499)
        return;

    MidiLockHold hold(FLock);
    std::vector<MidiDeviceDescriptor*> renumber;
    for (unsigned char isInput = 0; isInput <= 1; ++isInput)
    {
        TList<MidiDeviceDescriptor*>& cache = CacheOf(isInput);
        recreateCache(isInput, cache);
        NumberDuplicates(cache, renumber);
    }
    // Like-named ports of one unit and one group carry their number in the name itself
    // ("Port 1", "Port 2") rather than as a suffix.
    for (MidiDeviceDescriptor* d : renumber)
    {
        d->FName = UString::FormatS2("%s %d", d->FName, d->FDupNumber);
        d->FDupNumber = 0;
    }
}

// The first port of a name gets 1 (shown bare), the next ones 2, 3, ... in cache order; a name that
// occurs once keeps 0. The earlier ports of each name (ignoring case) are kept by name, so that a
// long port list is numbered without comparing every pair of ports.
void MidiDeviceFactory::NumberDuplicates(TList<MidiDeviceDescriptor*>& cache, std::vector<MidiDeviceDescriptor*>& renumber)
{
    std::unordered_map<std::string, std::vector<MidiDeviceDescriptor*>> earlier;
    std::unordered_set<MidiDeviceDescriptor*> listed;
    auto addOnce = [&renumber, &listed](MidiDeviceDescriptor* d) {
        if (listed.insert(d).second)
            renumber.push_back(d);
    };
    for (int i = 0; i < cache.Count(); ++i)
    {
        MidiDeviceDescriptor* di = cache[i];
        if (di == nullptr)
            continue;
        std::vector<MidiDeviceDescriptor*>& same = earlier[UpperCase(di->FName)];
        di->FDupNumber = 0;
        if (!same.empty())
        {
            // Only the first of a name can still hold 0: every later one got 2 or more.
            if (same.front()->FDupNumber == 0)
                same.front()->FDupNumber = 1;
            di->FDupNumber = static_cast<int>(same.size()) + 1;
        }
        if (!di->FInterfaceName.empty())
        {
            for (MidiDeviceDescriptor* dj : same)
            {
                if (di->Matches(dj))
                {
                    addOnce(di);
                    addOnce(dj);
                }
            }
        }
        same.push_back(di);
    }
}

void MidiDeviceFactory::GetDeviceList(unsigned char isInput, TList<MidiDeviceDescriptor*>& out)
{
    requireCache();
    MidiLockHold hold(FLock);
    TList<MidiDeviceDescriptor*>& cache = CacheOf(isInput);
    const int n = cache.Count();
    while (out.Count() > n)
    {
        const int last = out.Count() - 1;
        delete out[last];
        out.Remove(last);
    }
    for (int i = 0; i < n; ++i)
    {
        MidiDeviceDescriptor* copy = cache[i] != nullptr ? cache[i]->Clone() : nullptr;
        if (i < out.Count())
        {
            // The caller hands its old elements over to be replaced; dropping them would leak.
            delete out[i];
            out[i] = copy;
        }
        else
            out.Add(copy);
    }
}

void MidiDeviceFactory::GetDeviceList(unsigned char isInput, TStringList& out)
{
    FillNameList(isInput, out, false);
}

void MidiDeviceFactory::GetPublicDeviceNameList(unsigned char isInput, TStringList& out)
{
    FillNameList(isInput, out, true);
}

void MidiDeviceFactory::FillNameList(unsigned char isInput, TStringList& out, bool publicNames)
{
    requireCache();
    MidiLockHold hold(FLock);
    out.Clear();
    TList<MidiDeviceDescriptor*>& cache = CacheOf(isInput);
    for (int i = 0; i < cache.Count(); ++i)
    {
        const MidiDeviceDescriptor* d = cache[i];
        if (d == nullptr || (publicNames && d->FPublicName.empty()))
            continue;
        out.Add(publicNames ? d->FPublicName : d->GetName(), d->FSystemIndex);
    }
}

void MidiDeviceFactory::SetCacheCount(unsigned char isInput, int count, unsigned char grow)
{
    MidiLockHold hold(FLock);
    TList<MidiDeviceDescriptor*>& cache = CacheOf(isInput);
    const int keep = std::max(count, 0);
    while (cache.Count() > keep)
    {
        const int last = cache.Count() - 1;
        delete cache[last];
        cache.Remove(last);
    }
    if (grow)
        while (cache.Count() < keep)
            cache.Add(nullptr);
}

TMidiDeviceBase* MidiDeviceFactory::CreateInputDevice(MidiDeviceDescriptor* desc)
{
    return desc->FIsInput != 0 ? CreateDevice(desc) : nullptr;
}

TMidiDeviceBase* MidiDeviceFactory::CreateOutputDevice(MidiDeviceDescriptor* desc)
{
    return desc->FIsInput == 0 ? CreateDevice(desc) : nullptr;
}

void MidiDeviceFactory::FireMidiErrorEvent(TMidiDeviceBase* device, const std::string& message)
{
    if (FErrorListener != nullptr)
        FErrorListener->OnMidiDeviceError(device, message);
}
} // namespace Tr
