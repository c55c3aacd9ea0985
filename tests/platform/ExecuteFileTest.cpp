#include "core/TempFolder.h"
#include "core/TrFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Puts dir in front of PATH (or in its place) for one test.
class ScopedPath
{
public:
    ScopedPath(const std::string& dir, bool keepOld) : FOld(getenv("PATH") ? getenv("PATH") : "")
    {
        setenv("PATH", (keepOld ? dir + ":" + FOld : dir).c_str(), 1);
    }
    ~ScopedPath() { setenv("PATH", FOld.c_str(), 1); }

private:
    std::string FOld;
};

} // namespace

TEST(ExecuteFile, HandsOneEscapedUrlToXdgOpenWithoutAShellAndReportsFailure)
{
    // A stand-in opener that records its arguments and exits with the code in the file "code".
    TempFolder bin;
    TempFolder::writeFile(bin / "xdg-open", "#!/bin/sh\n"
                                            "here=$(dirname \"$0\")\n"
                                            "printf '%s\\n' \"$#\" \"$@\" > \"$here/args\"\n"
                                            "exit $(cat \"$here/code\")\n");
    chmod((bin / "xdg-open").c_str(), 0755);
    TempFolder::writeFile(bin / "code", "0\n");
    ScopedPath path(bin.path(), true);

    EXPECT_TRUE(Tr::ExecuteFile("/home/me/My Song's \"best\".syx"));
    EXPECT_EQ(TempFolder::readFile(bin / "args"), "1\nfile:////home/me/My%20Song%27s%20%22best%22.syx\n");

    TempFolder dir;
    const std::string marker = dir / "pwned";
    const std::string name =
        dir.path() + "/a;touch${IFS}" + marker + ";`touch${IFS}" + marker + "`$(touch${IFS}" + marker + ")";
    EXPECT_TRUE(Tr::ExecuteFile(name));
    EXPECT_FALSE(Tr::FileExists(marker)) << "a command hidden in a file name was run";
    EXPECT_EQ(TempFolder::readFile(bin / "args"), "1\nfile:///" + name + "\n");

    TempFolder::writeFile(bin / "code", "3\n");
    EXPECT_FALSE(Tr::ExecuteFile("/tmp/x.syx")) << "the opener's failure is the result";
    TempFolder empty;
    ScopedPath none(empty.path(), false);
    EXPECT_FALSE(Tr::ExecuteFile("/tmp/x.syx")) << "no opener at all";
}
