#include "TrAutoDelete.h"

namespace Tr {

TList<AutoDelete*>* VuskSystem::autoDels = nullptr;
bool VuskSystem::inShutdown = false;

AutoDelete::AutoDelete()
{
    VuskSystem::AddAutoDelete(this);
}

AutoDelete::~AutoDelete()
{
    TList<AutoDelete*>* list = VuskSystem::autoDels;
    if (list == nullptr)
        return;
    // The entry is nulled, not removed, so that a shutdown walk in progress keeps its place.
    for (int i = 0; i < list->Count(); ++i)
    {
        if ((*list)[i] == this)
        {
            (*list)[i] = nullptr;
            return;
        }
    }
}

void VuskSystem::AddAutoDelete(AutoDelete* obj)
{
    if (autoDels == nullptr)
        autoDels = new TList<AutoDelete*>();
    for (int i = 0; i < autoDels->Count(); ++i)
        if ((*autoDels)[i] == obj)
            return;
    autoDels->Add(obj);
}

bool VuskSystem::hasAutoDeletes()
{
    return autoDels != nullptr && autoDels->Count() > 0;
}

void VuskSystem::shutdown()
{
    if (autoDels == nullptr || inShutdown)
        return;
    inShutdown = true;
    // Count() is read again on every step: a destructor may delete later objects (their
    // entries turn null) or register new ones (they are appended and deleted by this walk).
    for (int i = 0; i < autoDels->Count(); ++i)
    {
        AutoDelete* obj = (*autoDels)[i];
        if (obj != nullptr)
            delete obj;
    }
    delete autoDels;
    autoDels = nullptr;
    inShutdown = false;
}

} // namespace Tr
