#include "core/TempFolder.h"
#include "core/TrFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Puts a stand-in opener first on PATH that records its arguments and exits with the code
// found in a file beside it.
class FakeOpener
{
public:
    FakeOpener()
    {
        const std::string script = FBin / "xdg-open";
        TempFolder::writeFile(script, "#!/bin/sh\n"
                                      "here=$(dirname \"$0\")\n"
                                      "printf '%s\\n' \"$#\" \"$@\" > \"$here/args\"\n"
                                      "exit $(cat \"$here/code\")\n");
        chmod(script.c_str(), 0755);
        setExitCode(0);
        const char* path = getenv("PATH");
        FOldPath = path ? path : "";
        setenv("PATH", (FBin.path() + ":" + FOldPath).c_str(), 1);
    }
    ~FakeOpener() { setenv("PATH", FOldPath.c_str(), 1); }

    void setExitCode(int code) { TempFolder::writeFile(FBin / "code", std::to_string(code) + "\n"); }
    std::string args() const { return TempFolder::readFile(FBin / "args"); }

private:
    TempFolder FBin;
    std::string FOldPath;
};

} // namespace

TEST(ExecuteFile, HandsTheEscapedUrlToTheOpener)
{
    FakeOpener opener;
    EXPECT_TRUE(Tr::ExecuteFile("/home/me/My Song's \"best\".syx"));
    EXPECT_EQ(opener.args(), "1\nfile:////home/me/My%20Song%27s%20%22best%22.syx\n");

    opener.setExitCode(3);
    EXPECT_FALSE(Tr::ExecuteFile("/tmp/x.syx", "unused", "unused")) << "the opener's failure is the result";
}

TEST(ExecuteFile, FileNamesNeverReachAShell)
{
    FakeOpener opener;
    TempFolder dir;
    const std::string marker = dir / "pwned";
    const std::string name = dir.path() + "/a;touch${IFS}" + marker + ";`touch${IFS}" + marker + "`$(touch${IFS}" + marker + ")";
    EXPECT_TRUE(Tr::ExecuteFile(name));
    EXPECT_FALSE(Tr::FileExists(marker)) << "a command hidden in a file name was run";
    EXPECT_EQ(opener.args(), "1\nfile:///" + name + "\n");
}

TEST(ExecuteFile, MissingOpenerIsAFailure)
{
    const char* path = getenv("PATH");
    const std::string old = path ? path : "";
    TempFolder empty;
    setenv("PATH", empty.path().c_str(), 1);
    const bool result = Tr::ExecuteFile("/tmp/x.syx");
    setenv("PATH", old.c_str(), 1);
    EXPECT_FALSE(result);
}
