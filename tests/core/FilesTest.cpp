#include "FifoRescue.h"
#include "TempFolder.h"

#include "core/TrFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

std::set<std::string> Names(const TempFolder& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

const uid_t Nobody = 65534;

// Runs body in a child process that ends after a minute at most, and waits for it unless told not
// to: the child's pid and its wait status, which is 0 when body returned and none of the test's
// expectations failed.
std::pair<pid_t, int> InChild(const std::function<void()>& body, bool wait = true)
{
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    if (wait)
        waitpid(pid, &status, 0);
    return {pid, status};
}

// The pid of a process that has ended.
pid_t DeadPid()
{
    return InChild([] {}).first;
}

// Starts writing `bytes` bytes to file in a process that is killed halfway, as by a crash: the
// system ends it when the file outgrows its size limit. Its pid, or 0 when it was not killed so.
pid_t KilledWriter(const std::string& file, size_t bytes)
{
    const auto [pid, status] = InChild([&] {
        ScopedFileSizeLimit limit(4096);
        signal(SIGXFSZ, SIG_DFL);
        Tr::WriteFileReplacing(file, std::string(bytes, 'k'));
    });
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ ? pid : 0;
}

} // namespace

TEST(Files, PathArithmetic)
{
    EXPECT_EQ(Tr::ExtractFileDir("/a/b.txt"), "/a");
    EXPECT_EQ(Tr::ExtractFileDir("/b.txt"), "/");
    EXPECT_EQ(Tr::ExtractFileName("/a/"), "");
    EXPECT_EQ(Tr::ExtractFileNameWithoutExtension("/x.y/song.syx"), "song");
    EXPECT_EQ(Tr::ExtractFileExtension("/x/song.syx"), ".syx");
    EXPECT_EQ(Tr::ExtractFileExtension("song.syx"), "") << "no '/' means no extension here";
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
    for (const std::string& bytes : {std::string("a\0b\xff", 4), std::string()}) {
        TempFolder::writeFile(dir / "bytes", bytes);
        void* data = Tr::getMemoryMappedFile(dir / "bytes", size, &error);
        ASSERT_NE(data, nullptr) << error;
        EXPECT_EQ(std::string((const char*)data, (size_t)size), bytes);
        Tr::freeMemoryMappedFile(data);
    }

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
    EXPECT_EQ(file.size(), 3LL << 30);
    ASSERT_EQ(truncate(sparse.c_str(), 2), 0);
    char head[4];
    EXPECT_FALSE(file.read(head, sizeof head));
    Tr::TruncateFile(sparse);
    EXPECT_EQ(TempFolder::readFile(sparse), "") << "a regular file is still emptied";
}

TEST(Files, ReplacingWritesGoThroughLinksKeepOldFilesAndSayWhyTheyFail)
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

    // The temporary file beside the longest name must still fit.
    const std::string longest = dir / std::string(251, 'n') + ".syx";
    EXPECT_EQ(Tr::WriteFileReplacing(longest, "first"), Tr::fwOk);
    EXPECT_EQ(Tr::WriteFileReplacing(longest, "second"), Tr::fwOk);
    EXPECT_EQ(TempFolder::readFile(longest), "second");

    std::filesystem::create_symlink("loop", dir / "loop");
    const std::pair<std::string, std::string> refused[] = {{dir / "loop", "Too many levels of symbolic links"},
        {dir / std::string(256, 'n'), "File name too long"}, {longest + "/inner", "Not a directory"}};
    for (const auto& [path, why] : refused) {
        std::string reason;
        EXPECT_EQ(Tr::WriteFileReplacing(path, "x", &reason), Tr::fwCannotOpen) << path;
        EXPECT_EQ(reason, why);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "loop"));

    std::string reason;
    {
        ScopedFileSizeLimit fullDisk(4);
        EXPECT_EQ(Tr::WriteFileReplacing(longest, "too long", &reason), Tr::fwCannotWrite);
    }
    EXPECT_EQ(reason, "File too large");
    EXPECT_EQ(TempFolder::readFile(longest), "second") << "a failed write keeps the old file";
    EXPECT_EQ(dir.entryCount(), 8) << "no temporary file is left behind";
}

TEST(Files, AFileOnlyWhoMayWriteItIsReplaced)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can run a check as another user";
    TempFolder dir;
    const std::string file = dir / "bank.syx";
    TempFolder::writeFile(file, "old");
    std::filesystem::create_symlink("bank.syx", dir / "link.syx");
    // Nobody owns the folder too: he may rename another file over his protected one, but not write it.
    ASSERT_EQ(chmod(file.c_str(), 0444) | chown(file.c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(chown(dir.path().c_str(), Nobody, Nobody), 0);
    const int status = InChild([&] {
        ASSERT_EQ(setgroups(0, nullptr) | setgid(Nobody) | setuid(Nobody), 0);
        for (const std::string& path : {file, dir / "link.syx"}) {
            std::string reason;
            EXPECT_EQ(Tr::WriteFileReplacing(path, "new", &reason), Tr::fwCannotOpen) << path;
            EXPECT_EQ(reason, "Permission denied");
        }
        EXPECT_EQ(Tr::WriteFileReplacing(dir / "free.syx", "new"), Tr::fwOk) << "a file he may write";
    }).second;
    EXPECT_EQ(status, 0) << "a check as nobody failed";
    EXPECT_EQ(TempFolder::readFile(file), "old");
    EXPECT_EQ(dir.entryCount(), 3) << "no temporary file is left behind";

    EXPECT_EQ(Tr::WriteFileReplacing(file, "root's"), Tr::fwOk) << "root may write anything, in place too";
    EXPECT_EQ(TempFolder::readFile(file), "root's");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0444)) << "the mode is kept";
}

TEST(Files, ASharedFileKeepsItsOwnerGroupModeAndAttributesWhoeverSavesIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can save as other users";
    // Daemon's file in a folder his group shares; nobody is a member of the group, not the owner.
    const uid_t Daemon = 1;
    const gid_t Shared = 4242;
    TempFolder dir;
    const std::string file = dir / "bank.syx";
    TempFolder::writeFile(file, "old");
    ASSERT_EQ(chown(dir.path().c_str(), 0, Shared) | chmod(dir.path().c_str(), 0770), 0);
    ASSERT_EQ(chown(file.c_str(), Daemon, Shared) | chmod(file.c_str(), 0664), 0);
    const bool xattrs = setxattr(file.c_str(), "user.note", "kept", 4, 0) == 0;
    ASSERT_TRUE(xattrs || errno == ENOTSUP) << "the file system refuses user attributes for another reason";
    const auto saveAs = [&](uid_t user, const std::string& bytes, const std::function<void()>& more = [] {}) {
        return InChild([&] {
            ASSERT_EQ(setgroups(1, &Shared) | setgid(Nobody) | setuid(user), 0);
            std::string reason;
            EXPECT_EQ(Tr::WriteFileReplacing(file, bytes, &reason), Tr::fwOk) << reason;
            more();
        }).second;
    };
    const auto expectIdentity = [&](const std::string& bytes) {
        struct stat st{};
        EXPECT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, Daemon);
        EXPECT_EQ(st.st_gid, Shared);
        EXPECT_EQ(st.st_mode & 07777, 0664u);
        EXPECT_EQ(TempFolder::readFile(file), bytes);
        char note[8] = {};
        EXPECT_TRUE(!xattrs || (getxattr(file.c_str(), "user.note", note, 4) == 4 && std::string(note) == "kept"))
            << "the attribute was lost";
        EXPECT_EQ(dir.entryCount(), 1) << "no temporary file is left behind";
        return st.st_ino;
    };
    const auto fullDiskKeepsTheFile = [&] {
        std::string reason;
        ScopedFileSizeLimit fullDisk(10);
        EXPECT_EQ(Tr::WriteFileReplacing(file, "far too long", &reason), Tr::fwCannotWrite);
        EXPECT_EQ(reason, "File too large");
        EXPECT_EQ(TempFolder::readFile(file), "nobody's") << "the failed save lost the old contents";
    };

    const ino_t before = expectIdentity("old");
    // Nobody's save cannot give a new file daemon's identity: it goes into the file itself, and a
    // full disk is found before an old byte is overwritten.
    EXPECT_EQ(saveAs(Nobody, "nobody's", fullDiskKeepsTheFile), 0) << "a save as nobody failed";
    EXPECT_EQ(expectIdentity("nobody's"), before) << "written in place";
    // The owner's save still goes through a new file renamed over the old one.
    EXPECT_EQ(saveAs(Daemon, "daemon's"), 0) << "a save as daemon failed";
    EXPECT_NE(expectIdentity("daemon's"), before) << "replaced";
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
    const std::string mark = "-" + std::to_string(dead) + "-";
    std::string left, otherLeft;
    for (const std::string& name : leftBehind)
        (name.find(mark) != std::string::npos ? left : otherLeft) = name;
    ASSERT_NE(left, "");
    // The name the temporary file would have if process pid had written it.
    const auto writtenBy = [&](pid_t pid) { return left.substr(0, left.find(mark) + 1) + std::to_string(pid) + "-0"; };
    EXPECT_EQ(std::filesystem::file_size(dir / left), 4096u);

    // What is no stale temporary file of settings.ini stays: a live writer's, one still locked by
    // its writer (a process this one cannot see), another file's, and the user's own things.
    const pid_t live = InChild(pause, false).first;
    ASSERT_GT(live, 0);
    const std::string liveOne = writtenBy(live), lockedOne = writtenBy(DeadPid()),
                      linkOne = writtenBy(DeadPid()), folderOne = writtenBy(DeadPid()),
                      userOne = "settings.ini.tmp-" + std::to_string(DeadPid()) + "-1";
    for (const std::string& name : {liveOne, lockedOne, left + "x", "x" + left, userOne})
        TempFolder::writeFile(dir / name, "partial");
    TempFolder::writeFile(dir / "precious", "mine");
    std::filesystem::create_symlink("precious", dir / linkOne);
    ASSERT_TRUE(Tr::ForceDirectories(dir / folderOne));
    // Locks are held by the open file, not the process: this one stands in for the unseen writer.
    const int writer = open((dir / lockedOne).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(writer, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(Tr::WriteFileReplacing(file, "new"), Tr::fwOk);
    std::set<std::string> expected = leftBehind;
    expected.erase(left);
    expected.insert({liveOne, lockedOne, left + "x", "x" + left, userOne, "precious", linkOne, folderOne});
    EXPECT_EQ(Names(dir), expected) << "only the stale temporary files of this file go";
    EXPECT_EQ(TempFolder::readFile(dir / "precious"), "mine");
    EXPECT_EQ(TempFolder::readFile(file), "new");

    kill(live, SIGKILL);
    waitpid(live, nullptr, 0);
    close(writer);
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
