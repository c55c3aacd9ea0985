#include "FifoRescue.h"
#include "TempFolder.h"

#include "core/TrFiles.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
    EXPECT_EQ(error, "error opening file: : " + dir / "missing");
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
            EXPECT_EQ(refusal, error);
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
