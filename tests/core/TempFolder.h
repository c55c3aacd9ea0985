// A fresh folder under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <csignal>
#include <cstdio>
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

    static void writeFile(const std::string& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The names in the folder, so a test can see that no temporary file was left behind.
    int entryCount() const
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(FPath))
            ++n;
        return n;
    }

private:
    std::string FPath;
};

// Makes every write that would grow a file past `bytes` fail as on a full disk (EFBIG), for as
// long as it lives.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FOld);
        signal(SIGXFSZ, FOldHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit FOld;
    void (*FOldHandler)(int);
};

// Works in another folder for as long as it lives.
class ScopedCwd
{
public:
    explicit ScopedCwd(const std::string& dir)
    {
        std::error_code ec;
        FOld = std::filesystem::current_path(ec).string();
        FEntered = chdir(dir.c_str()) == 0;
    }
    ~ScopedCwd()
    {
        if (chdir(FOld.c_str()) != 0)
            std::abort();
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

    bool entered() const { return FEntered; }

private:
    std::string FOld;
    bool FEntered;
};
