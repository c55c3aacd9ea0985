#include "FifoRescue.h"
#include "TempFolder.h"

#include "core/TrFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::set<std::string> Names(const TempFolder& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

// The pid of a process that has ended.
pid_t DeadPid()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

// Starts writing `bytes` bytes to file in a process that is killed halfway, as by a crash: the
// system ends it when the file outgrows its size limit. Its pid, or 0 when it was not killed so.
pid_t KilledWriter(const std::string& file, size_t bytes)
{
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_DFL);
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &limit);
        Tr::WriteFileReplacing(file, std::string(bytes, 'k'));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ ? pid : 0;
}

// A process that lives until released (at most a minute), holding a lock on `locked` when that is
// not empty, as a writer holds its temporary file.
class LiveProcess
{
public:
    explicit LiveProcess(const std::string& locked = "")
    {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            std::abort();
        const char* path = locked.empty() ? nullptr : locked.c_str();
        fflush(nullptr);
        FPid = fork();
        if (FPid == 0) {
            alarm(60);
            // Nothing else is kept open, so that another such process ends when it is released.
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != ready[1] && fd != release[0])
                    close(fd);
            const int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
            char c = !path || (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
            (void)!write(ready[1], &c, 1);
            (void)!read(release[0], &c, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        FRelease = release[1];
        char c = 'n';
        FReady = read(ready[0], &c, 1) == 1 && c == 'y';
        close(ready[0]);
    }
    ~LiveProcess() { release(); }
    LiveProcess(const LiveProcess&) = delete;
    LiveProcess& operator=(const LiveProcess&) = delete;

    pid_t pid() const { return FPid; }
    bool ready() const { return FReady; }
    void release()
    {
        if (FRelease < 0)
            return;
        close(FRelease);
        FRelease = -1;
        waitpid(FPid, nullptr, 0);
    }

private:
    pid_t FPid = -1;
    int FRelease = -1;
    bool FReady = false;
};

// The name a temporary file would have if process `to` had written it instead of process `from`.
std::string WrittenBy(std::string name, pid_t from, pid_t to)
{
    const std::string was = "-" + std::to_string(from) + "-";
    const size_t at = name.find(was);
    return at == std::string::npos ? "" : name.replace(at, was.size(), "-" + std::to_string(to) + "-");
}

} // namespace

TEST(Files, PathArithmetic)
{
    EXPECT_EQ(Tr::ExtractFileDir("/a/b.txt"), "/a");
    EXPECT_EQ(Tr::ExtractFileDir("/b.txt"), "/");
    EXPECT_EQ(Tr::ExtractFileName("/a/"), "");
    EXPECT_EQ(Tr::ExtractFileNameWithoutExtension("/x.y/song.syx"), "song");
    EXPECT_EQ(Tr::ExtractFileNameWithoutExtension("/x.y/file"), "file");
    EXPECT_EQ(Tr::ExtractFileExtension("/x/song.syx"), ".syx");
    EXPECT_EQ(Tr::ExtractFileExtension("song.syx"), "") << "no '/' means no extension here";
    EXPECT_EQ(Tr::ExtractFileExtension("/x.y/file"), "");
    EXPECT_EQ(Tr::RemoveFileExtension("song.syx"), "song");
    EXPECT_EQ(Tr::RemoveFileExtension("/a/b.tar.gz"), "/a/b.tar");
    EXPECT_EQ(Tr::ChangeFileExt("/x.y/file", ".vzrs"), "/x.y/file.vzrs") << "a dot before the last '/' does not count";
    EXPECT_EQ(Tr::AddLastBackSlash("/a/"), "/a/");

    EXPECT_FALSE(Tr::IsAbsoluteFilename("/"));
    EXPECT_TRUE(Tr::IsAbsoluteFilename(" \"\t/a"));
    EXPECT_FALSE(Tr::IsAbsoluteFilename("\xC3\xA9/x")) << "bytes of a UTF-8 character are part of the name";
    EXPECT_EQ(Tr::MakeAbsoluteFilename("b", "/a/"), "/a/b");
    EXPECT_EQ(Tr::MakeAbsoluteFilename("/c", "/a"), "/c");
    EXPECT_EQ(Tr::MakeAbsoluteFilename("/", "/a"), "/a/");
}

TEST(Files, ForceDirectoriesAndFileTests)
{
    TempFolder dir;
    const std::string deep = dir / "x/y";
    EXPECT_TRUE(Tr::ForceDirectories(deep));
    EXPECT_TRUE(Tr::DirExists(deep));
    EXPECT_TRUE(Tr::ForceDirectories(deep)) << "an existing folder";
    EXPECT_FALSE(Tr::ForceDirectories(""));
    TempFolder::writeFile(dir / "plain", "data");
    EXPECT_FALSE(Tr::ForceDirectories(dir / "plain")) << "a file of the same name is in the way";
    EXPECT_FALSE(Tr::ForceDirectories(dir / "plain/sub"));
    {
        ScopedCwd cwd(dir.path());
        ASSERT_TRUE(cwd.entered());
        EXPECT_TRUE(Tr::ForceDirectories("x/rel")) << "below an existing first folder";
        EXPECT_TRUE(Tr::DirExists(dir / "x/rel"));
        EXPECT_FALSE(Tr::ForceDirectories("a/b")) << "the parent of a is the empty text";
        EXPECT_FALSE(Tr::DirOrFileExists(dir / "a"));
    }

    EXPECT_FALSE(Tr::FileExists(dir / "x"));
    EXPECT_FALSE(Tr::DirExists(dir / "plain"));
    EXPECT_TRUE(Tr::FileIsReadOnly(dir / "none")) << "a missing file counts as read-only";

    TempFolder::writeFile(dir / "song.syx", "");
    EXPECT_EQ(Tr::GetTempFilename(dir / "song.syx"), dir / "song.syx1.syx")
        << "an existing file gives its folder, name and extension";
}

TEST(Files, WholeFileReadsAndTheirErrorTexts)
{
    TempFolder dir;
    int size = -1;
    std::string error;
    TempFolder::writeFile(dir / "bytes", std::string("a\0b\xff", 4));
    void* data = Tr::getMemoryMappedFile(dir / "bytes", size, &error);
    ASSERT_NE(data, nullptr) << error;
    EXPECT_EQ(std::string((const char*)data, (size_t)size), std::string("a\0b\xff", 4));
    Tr::freeMemoryMappedFile(data);
    TempFolder::writeFile(dir / "empty", "");
    data = Tr::getMemoryMappedFile(dir / "empty", size, &error);
    ASSERT_NE(data, nullptr) << error;
    EXPECT_EQ(size, 0);
    Tr::freeMemoryMappedFile(data);

    size = -1;
    EXPECT_EQ(Tr::getMemoryMappedFile(dir / "missing", size, &error), nullptr);
    EXPECT_EQ(error, "error opening file: " + dir / "missing" + ": No such file or directory");
    EXPECT_EQ(size, -1) << "size is written only on success";
    EXPECT_EQ(Tr::getMemoryMappedFile(dir / "missing", size, nullptr), nullptr);

    // A sparse file takes no room on the disk.
    const std::string huge = dir / "huge";
    TempFolder::writeFile(huge, "");
    ASSERT_EQ(truncate(huge.c_str(), 0x80000000LL), 0);
    EXPECT_EQ(Tr::getMemoryMappedFile(huge, size, &error), nullptr);
    EXPECT_EQ(error, "file too large (2GB limit): " + huge);

    // The system's virtual files claim a size they do not deliver.
    const std::string shortRead = "/sys/kernel/mm/transparent_hugepage/enabled";
    if (Tr::FileExists(shortRead)) {
        EXPECT_EQ(Tr::getMemoryMappedFile(shortRead, size, &error), nullptr);
        EXPECT_EQ(error, "error reading file into buffer : " + shortRead);
    }

#if !defined(__SANITIZE_ADDRESS__) // the address sanitizer reserves its own memory and cannot run under an address-space limit
    const std::string almostHuge = dir / "almost";
    TempFolder::writeFile(almostHuge, "");
    ASSERT_EQ(truncate(almostHuge.c_str(), 0x7ffffff0LL), 0);
    {
        // Room for 512 MB more, far from the 2 GB asked for.
        ScopedAddressSpaceLimit limit(512UL << 20);
        ASSERT_TRUE(limit.set());
        EXPECT_EQ(Tr::getMemoryMappedFile(almostHuge, size, &error), nullptr);
    }
    EXPECT_EQ(error, "out of memory (trying to allocate 2147483632 bytes).");
#endif
}

TEST(Files, OnlyRegularFilesAreReadOrReplacedAndNothingWaits)
{
    TempFolder dir;
    const std::string pipe = dir / "pipe", socketPath = dir / "socket";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, (const sockaddr*)&address, sizeof address), 0);
    {
        FifoRescue rescue(pipe);
        const std::pair<std::string, std::string> refused[] = {
            {pipe, "named pipe"}, {dir.path(), "folder"}, {"/dev/null", "device"}, {socketPath, "socket"}};
        for (const auto& [path, kind] : refused) {
            std::string error, refusal;
            int size = -1;
            EXPECT_EQ(Tr::getMemoryMappedFile(path, size, &error), nullptr);
            EXPECT_EQ(error, "not a regular file (" + kind + "): " + path);
            EXPECT_EQ(Tr::WriteFileReplacing(path, "data", &refusal), Tr::fwNotRegularFile) << path;
            EXPECT_EQ(refusal + ": " + path, error);
        }
        Tr::TruncateFile(pipe);
        EXPECT_FALSE(rescue.steppedIn()) << "an open waited for the other end of the pipe";
    }
    close(listener);
    EXPECT_TRUE(FifoRescue::isFifo(pipe)) << "the pipe was replaced";
    EXPECT_EQ(dir.entryCount(), 2) << "nothing was written beside them";

    // The size is known before a byte is read, and reading a file that shrank since stops short.
    const std::string sparse = dir / "sparse";
    TempFolder::writeFile(sparse, "");
    ASSERT_EQ(truncate(sparse.c_str(), 3LL << 30), 0);
    Tr::TInputFile file(sparse);
    ASSERT_TRUE(file.isOpen()) << file.error();
    EXPECT_EQ(file.error(), "");
    EXPECT_EQ(file.size(), 3LL << 30);
    ASSERT_EQ(truncate(sparse.c_str(), 2), 0);
    char head[4];
    EXPECT_FALSE(file.read(head, sizeof head));
    Tr::TruncateFile(sparse);
    EXPECT_EQ(TempFolder::readFile(sparse), "") << "a regular file is still emptied";
}

TEST(Files, ReplacingWritesFollowLinksToNothingAndFitLongNames)
{
    TempFolder dir;
    const std::string absolute = dir / "absolute", relative = dir / "relative", chain = dir / "chain";
    std::filesystem::create_symlink(dir / "gone.ini", absolute);
    std::filesystem::create_symlink("sub/../gone.syx", relative);
    std::filesystem::create_symlink("relative", chain);
    ASSERT_TRUE(Tr::ForceDirectories(dir / "sub"));
    EXPECT_EQ(Tr::WriteFileReplacing(absolute, "one"), Tr::fwOk);
    EXPECT_EQ(Tr::WriteFileReplacing(chain, "two"), Tr::fwOk);
    EXPECT_EQ(TempFolder::readFile(dir / "gone.ini"), "one") << "a link to a file that is gone is written through";
    EXPECT_EQ(TempFolder::readFile(dir / "gone.syx"), "two") << "a chain of links, relative to each link's folder";
    for (const std::string& link : {absolute, relative, chain})
        EXPECT_TRUE(std::filesystem::is_symlink(link)) << link << " was replaced by a file";

    // A name of the longest length there is: the temporary file beside it must still fit.
    const std::string longest = dir / std::string(251, 'n') + ".syx";
    EXPECT_EQ(Tr::WriteFileReplacing(longest, "first"), Tr::fwOk);
    EXPECT_EQ(Tr::WriteFileReplacing(longest, "second"), Tr::fwOk);
    EXPECT_EQ(TempFolder::readFile(longest), "second");
    EXPECT_EQ(dir.entryCount(), 7) << "no temporary file is left behind";

    std::string reason;
    std::filesystem::create_symlink("loop", dir / "loop");
    EXPECT_EQ(Tr::WriteFileReplacing(dir / "loop", "x", &reason), Tr::fwCannotOpen);
    EXPECT_EQ(reason, "Too many levels of symbolic links");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "loop"));
    EXPECT_EQ(Tr::WriteFileReplacing(dir / std::string(256, 'n'), "x", &reason), Tr::fwCannotOpen);
    EXPECT_EQ(reason, "File name too long");
    EXPECT_EQ(Tr::WriteFileReplacing(longest + "/inner", "x", &reason), Tr::fwCannotOpen);
    EXPECT_EQ(reason, "Not a directory");
    {
        ScopedFileSizeLimit fullDisk(4);
        EXPECT_EQ(Tr::WriteFileReplacing(longest, "too long", &reason), Tr::fwCannotWrite);
        EXPECT_EQ(reason, "File too large");
    }
    EXPECT_EQ(TempFolder::readFile(longest), "second");
    EXPECT_EQ(dir.entryCount(), 8);
}

TEST(Files, AWriteRemovesWhatDeadWritersOfTheSameFileLeftAndNothingElse)
{
    TempFolder dir;
    const std::string file = dir / "settings.ini", other = dir / "other.ini";
    TempFolder::writeFile(file, "old");
    const pid_t dead = KilledWriter(file, 100000), deadOther = KilledWriter(other, 100000);
    ASSERT_GT(dead, 0) << "the writer was not killed halfway";
    ASSERT_GT(deadOther, 0);
    const std::set<std::string> leftBehind = Names(dir);
    ASSERT_EQ(leftBehind.size(), 3u) << "each killed write left one temporary file";
    std::string left, otherLeft;
    for (const std::string& name : leftBehind)
        (name.find("-" + std::to_string(dead) + "-") != std::string::npos ? left : otherLeft) = name;
    ASSERT_NE(left, "");
    EXPECT_LE(left.size(), 48u) << "a short name: " << left;
    EXPECT_EQ(std::filesystem::file_size(dir / left), 4096u);

    // What is no stale temporary file of settings.ini stays: a live writer's, one still locked by
    // its writer (a process this one cannot see), another file's, and the user's own things.
    LiveProcess live;
    ASSERT_TRUE(live.ready());
    const std::string liveOne = WrittenBy(left, dead, live.pid()), lockedOne = WrittenBy(left, dead, DeadPid()),
                      linkOne = WrittenBy(left, dead, DeadPid()), folderOne = WrittenBy(left, dead, DeadPid()),
                      userOne = "settings.ini.tmp-" + std::to_string(DeadPid()) + "-1";
    for (const std::string& name : {liveOne, lockedOne, left + "x", "x" + left, userOne})
        TempFolder::writeFile(dir / name, "partial");
    TempFolder::writeFile(dir / "precious", "mine");
    std::filesystem::create_symlink("precious", dir / linkOne);
    ASSERT_TRUE(Tr::ForceDirectories(dir / folderOne));
    LiveProcess writer(dir / lockedOne);
    ASSERT_TRUE(writer.ready());

    EXPECT_EQ(Tr::WriteFileReplacing(file, "new"), Tr::fwOk);
    std::set<std::string> expected = leftBehind;
    expected.erase(left);
    expected.insert({liveOne, lockedOne, left + "x", "x" + left, userOne, "precious", linkOne, folderOne});
    EXPECT_EQ(Names(dir), expected) << "only the stale temporary files of this file go";
    EXPECT_EQ(TempFolder::readFile(dir / "precious"), "mine");
    EXPECT_EQ(TempFolder::readFile(file), "new");

    live.release();
    writer.release();
    EXPECT_EQ(Tr::WriteFileReplacing(file, "newer"), Tr::fwOk);
    expected.erase(liveOne);
    expected.erase(lockedOne);
    EXPECT_EQ(Names(dir), expected) << "their writers have ended since";
}

TEST(Files, HomeSettingsAndDocumentsFolders)
{
    const char* oldHome = getenv("HOME");
    const std::string keep = oldHome ? oldHome : "";
    setenv("HOME", "/home/tester", 1);
    EXPECT_EQ(Tr::getHomeDirectory(), "/home/tester");
    EXPECT_EQ(Tr::getVuskSettingsBaseDir(), "/home/tester/.Quorva Tindral");
    EXPECT_EQ(Tr::getMyDocumentsDirectory(), "/home/tester/Documents");

    unsetenv("HOME");
    const std::string fallback = Tr::getHomeDirectory();
    if (oldHome)
        setenv("HOME", keep.c_str(), 1);
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr) << "the test user has no entry in the user database";
    EXPECT_EQ(fallback, pw->pw_dir) << "without HOME the user database answers";
}
