// Bounds a file road tried on a named pipe. An open that waits for the other end of the pipe would
// hang its test for ever; when the scope is still running after a generous `patience`, a watcher
// steps in: it holds the reading end open (a waiting writer goes on, and does not die of SIGPIPE)
// and opens and closes the writing end now and then (a waiting reader goes on and reads the end of
// the file). steppedIn() tells the test that it had to, which is the failure the test looks for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class FifoRescue
{
public:
    explicit FifoRescue(std::string fifo, std::chrono::milliseconds patience = std::chrono::seconds(20))
        : FFifo(std::move(fifo)), FWatcher([this, patience] { watch(patience); }) {}
    ~FifoRescue()
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FDone = true;
        }
        FWake.notify_all();
        FWatcher.join();
    }
    FifoRescue(const FifoRescue&) = delete;
    FifoRescue& operator=(const FifoRescue&) = delete;

    bool steppedIn() const { return FSteppedIn; }

    // Still a pipe: nothing replaced it by a file.
    static bool isFifo(const std::string& path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }

private:
    void watch(std::chrono::milliseconds patience)
    {
        std::unique_lock<std::mutex> lock(FMutex);
        if (FWake.wait_for(lock, patience, [this] { return FDone; }))
            return;
        FSteppedIn = true;
        const int reader = open(FFifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        do {
            char sink[4096];
            while (reader >= 0 && read(reader, sink, sizeof sink) > 0)
                continue;
            const int writer = open(FFifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer >= 0)
                close(writer);
        } while (!FWake.wait_for(lock, std::chrono::milliseconds(50), [this] { return FDone; }));
        if (reader >= 0)
            close(reader);
    }

    const std::string FFifo;
    std::atomic<bool> FSteppedIn{false};
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FDone = false;
    std::thread FWatcher;   // last: it starts watching as soon as it is made
};
