#include "JuceUtilsInternalUpdater.h"

#include "Runnable.h"

void JuceUtilsInternalUpdater::start(Runnable* r, void* d, int c)
{
    runnable = r;
    data = d;
    code = c;
    triggerAsyncUpdate();
}

void JuceUtilsInternalUpdater::handleAsyncUpdate()
{
    if (runnable)
        runnable->run(data, code);
    // Safe: the posted message holds its own reference and does not touch the updater after
    // this call returns.
    delete this;
}
