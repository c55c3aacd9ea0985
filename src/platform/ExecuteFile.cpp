// Opening a file with the desktop's own program for it.
#include "core/TrFiles.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace Tr {

namespace {

std::string replaceAll(std::string s, char c, const char* with)
{
    std::string out;
    for (char ch : s) {
        if (ch == c)
            out += with;
        else
            out += ch;
    }
    return out;
}

} // namespace

bool ExecuteFile(const std::string& file, const char*, const char*)
{
    std::string url = "file:///" + file;
    url = replaceAll(url, ' ', "%20");
    url = replaceAll(url, '\'', "%27");
    url = replaceAll(url, '"', "%22");

    // The URL goes to xdg-open as one argument, never through a shell, so no character of a
    // file name can become a command.
    char program[] = "xdg-open";
    char* argv[] = {program, url.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace Tr
