// A fresh folder under /tmp for one test, removed with everything in it afterwards, and the other
// scoped changes the file tests make to their process.
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

class TempFolder
{
public:
    TempFolder()
    {
        char name[] = "/tmp/quorva-test-XXXXXX";
        if (!mkdtemp(name))
            std::abort();
        FPath = name;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }
    // The names in the folder, so a test can see that no temporary file was left behind.
    long entryCount() const
    {
        const std::filesystem::directory_iterator entries(FPath);
        return std::distance(begin(entries), end(entries));
    }

    static void writeFile(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string readFile(const std::string& path)
    {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }

private:
    std::string FPath;
};

// Makes every write that would grow a file past `bytes` fail as on a full disk (EFBIG).
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) : FOldHandler(signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &FOld);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FOld);
        signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld;
    void (*FOldHandler)(int);
};

// Lets the process map only `headroom` bytes more than it has mapped now, so that reading a huge
// file whole fails at its allocation. The address sanitizer reserves its own memory and cannot run
// under such a limit.
class ScopedAddressSpaceLimit
{
public:
    explicit ScopedAddressSpaceLimit(unsigned long headroom)
    {
        unsigned long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        getrlimit(RLIMIT_AS, &FOld);
        rlimit tight = FOld;
        tight.rlim_cur = pages * (unsigned long)sysconf(_SC_PAGESIZE) + headroom;
        FSet = pages > 0 && setrlimit(RLIMIT_AS, &tight) == 0;
    }
    ~ScopedAddressSpaceLimit() { setrlimit(RLIMIT_AS, &FOld); }
    bool set() const { return FSet; }

private:
    rlimit FOld;
    bool FSet;
};

// Works in another folder for as long as it lives.
class ScopedCwd
{
public:
    explicit ScopedCwd(const std::string& dir)
        : FOld(std::filesystem::current_path().string()), FEntered(chdir(dir.c_str()) == 0) {}
    ~ScopedCwd()
    {
        if (chdir(FOld.c_str()) != 0)
            std::abort();
    }
    bool entered() const { return FEntered; }

private:
    std::string FOld;
    bool FEntered;
};
