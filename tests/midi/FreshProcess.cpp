#include "FreshProcess.h"

#include "core/TrAutoDelete.h"
#include "midi/MidiAlias.h"
#include "midi/MidiRouter.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// One record per failure: file, line and message, each ended by a zero byte.
void WriteFailures(int fd, const testing::TestPartResultArray& results)
{
    std::string out;
    for (int i = 0; i < results.size(); ++i) {
        const testing::TestPartResult& r = results.GetTestPartResult(i);
        if (!r.failed())
            continue;
        out += r.file_name() ? r.file_name() : "";
        out += '\0';
        out += std::to_string(r.line_number());
        out += '\0';
        out += r.message();
        out += '\0';
    }
    for (std::size_t done = 0; done < out.size();) {
        const ssize_t n = write(fd, out.data() + done, out.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
}

[[noreturn]] void RunChild(int fd, const std::function<void()>& body)
{
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        if (Tr::TMidiAliasManager::IsInstanceAllocated() || Tr::TMidiRouter::IsInstanceAllocated()) {
            ADD_FAILURE() << "the test program made MIDI singletons outside RunInFreshProcess";
        } else {
            try {
                body();
                Tr::VuskSystem::shutdown();
#if defined(__SANITIZE_ADDRESS__)
                // The child leaves through _exit, past the sanitizer's own check at exit.
                if (__lsan_do_recoverable_leak_check() != 0)
                    ADD_FAILURE() << "the test leaked memory; the sanitizer's report is above";
#endif
            } catch (const std::exception& e) {
                ADD_FAILURE() << "unexpected exception: " << e.what();
            }
        }
    }
    WriteFailures(fd, results);
    close(fd);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(0);
}

} // namespace

void RunInFreshProcess(const std::function<void()>& body)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
        close(fds[0]);
        RunChild(fds[1], body);
    }
    close(fds[1]);
    std::string in;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        in.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    std::size_t pos = 0;
    auto field = [&in, &pos] {
        const std::size_t end = in.find('\0', pos);
        std::string f = in.substr(pos, end - pos);
        pos = end == std::string::npos ? in.size() : end + 1;
        return f;
    };
    while (pos < in.size()) {
        const std::string file = field();
        const int line = std::stoi(field());
        std::string message = field();
        // ADD_FAILURE_AT adds its own "Failed" line.
        if (message.rfind("Failed\n", 0) == 0)
            message.erase(0, 7);
        ADD_FAILURE_AT(file.c_str(), line) << message;
    }
    if (WIFSIGNALED(status))
        ADD_FAILURE() << "the test's process died of signal " << WTERMSIG(status)
                      << "; its own output above tells why";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "the test's process ended with status " << status;
}
