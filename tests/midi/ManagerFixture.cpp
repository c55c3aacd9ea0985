#include "ManagerFixture.h"

#include "core/TrAutoDelete.h"

namespace ManagerTesting
{
namespace
{
bool managerDestroyed = false;
}

void ManagerTest::SetUp()
{
    if (managerDestroyed || Tr::MidiManager::IsInstanceAllocated())
        GTEST_FAIL() << "a MIDI manager already lived in this process and cannot be made again: run this "
                        "test program through ctest, or one test case at a time with --gtest_filter";
    // The real back end registered itself before main; these tests know only the scripted one.
    if (Tr::MidiManagerInitializers != nullptr)
    {
        for (Tr::MidiManagerInitializer* init : *Tr::MidiManagerInitializers)
            delete init;
        delete Tr::MidiManagerInitializers;
        Tr::MidiManagerInitializers = nullptr;
    }
}

void ManagerTest::TearDown()
{
    if (Tr::MidiManager::IsInstanceAllocated())
    {
        manager->RemoveDeviceControlListener(&listener);
        manager->RemoveDevListChangeListener(&listener);
    }
    if (manager != nullptr)
        managerDestroyed = true;
    Tr::VuskSystem::shutdown();
}

Tr::MidiManager* ManagerTest::Start()
{
    manager = Tr::MidiManager::instance();
    factory = new TestMidi::TestMidiFactory();
    factory->UseManualClock();
    manager->AddFactory(factory, 0);
    manager->AddDeviceControlListener(&listener);
    manager->AddDevListChangeListener(&listener);
    return manager;
}

bool ManagerTest::Rescan(bool forced)
{
    Later();
    return manager->RefreshDevList(forced ? 1 : 0, 0);
}
} // namespace ManagerTesting
