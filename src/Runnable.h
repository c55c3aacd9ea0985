// A piece of work handed to the message thread (see JuceUtils::invokeLater).
#pragma once

class Runnable
{
public:
    virtual void run(void* data, int code) = 0;

protected:
    // Runnables are never deleted through this interface; whoever hands one over keeps owning it.
    ~Runnable() = default;
};
