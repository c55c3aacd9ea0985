// Files, folders and system information: the per-user folders, path arithmetic on '/'-separated
// paths, file tests, whole-file reads and safe whole-file writes, time, the file question and
// the operating-system version.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace Tr {

// Owns a C library file handle.
struct TFileCloser
{
    void operator()(FILE* f) const { if (f) fclose(f); }
};
using TFilePtr = std::unique_ptr<FILE, TFileCloser>;

// Folders
std::string getHomeDirectory();
std::string getVuskSettingsBaseDir();
std::string getMyDocumentsDirectory();
bool ForceDirectories(const std::string& dir);

// Path arithmetic; none of these touches the file system.
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string ExtractFileNameWithoutExtension(const std::string& path);
std::string ExtractFileExtension(const std::string& path);
std::string RemoveFileExtension(const std::string& path);
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string AddLastBackSlash(const std::string& path);
bool IsAbsoluteFilename(const std::string& path);
std::string MakeAbsoluteFilename(const std::string& name, const std::string& base);

// File tests and operations
bool DirExists(const std::string& path);
bool FileExists(const std::string& path);
bool DirOrFileExists(const std::string& path);
bool FileIsReadOnly(const std::string& path);
bool FileRename(const std::string& from, const std::string& to);
bool FileDelete(const std::string& path);
void TruncateFile(const std::string& path);

// A file open for reading that is known to be a regular file. Opening a named pipe would wait for
// a writer for ever, and a device or socket is no file to read whole: the open never waits, and
// anything but a regular file is refused with a reason instead of being read.
class TInputFile
{
public:
    explicit TInputFile(const std::string& path);
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    bool isOpen() const { return FFd >= 0; }
    const std::string& path() const { return FPath; }
    // Why the file is not open: "error opening file: <path>: <the system's cause>", or for a path
    // that is there but is no regular file "not a regular file (named pipe): <path>" (folder,
    // device, socket); empty when it is open.
    const std::string& error() const { return FError; }
    // The size the file system gives, known before a byte is read; 0 when not open.
    long long size() const { return FSize; }
    // Reads exactly n bytes from the current position; false on an error or an early end.
    bool read(void* buffer, size_t n);

private:
    std::string FPath;
    std::string FError;
    long long FSize = 0;
    int FFd = -1;
};

// Whole-file reads refuse files from this size on.
constexpr long long WholeFileSizeLimit = 0x7fffffff;

// Reads the whole file into a new buffer (it is not mapped). Null on failure, with the reason in
// *error when error is not null; size is written only on success. Release with
// freeMemoryMappedFile. The second form reads a file the caller has opened and not read from.
void* getMemoryMappedFile(const std::string& path, int& size, std::string* error);
void* getMemoryMappedFile(TInputFile& file, int& size, std::string* error);
void freeMemoryMappedFile(void* buffer);

std::string GetTempFilename(const std::string& path);

enum TFileWriteResult
{
    fwOk,
    fwCannotOpen,       // the file is out of reach or may not be written, or no temporary file can go beside it
    fwCannotWrite,      // writing, flushing, closing or the final rename failed
    fwNotRegularFile,   // the name is taken by a folder, pipe, device or socket
};

// Replaces the contents of fileName by data. A regular file (or a new one) is written to a
// temporary file in the same folder that is renamed over it only once everything is on disk, so
// a failure never leaves a truncated file behind; temporary files that writes of the same file by
// processes now gone left behind are removed first. The file keeps its owner, group, extended
// attributes and mode; where the temporary file cannot be given them (a member of the group
// saving another user's file), the file itself is written instead, with room for the new contents
// taken first so that a full disk fails before an old byte is overwritten. A symbolic link is
// written through, also when its file does not exist yet, and stays. A name taken by anything but
// a regular file is left alone (a pipe would hold the writer until someone reads, and a rename
// would replace a device node): fwNotRegularFile. A file this process may not write is not replaced either, although the
// folder would allow the rename: fwCannotOpen. On failure *reason, when reason is not null, says
// why without naming the file: "not a regular file (device)", or the system's cause such as
// "Permission denied" or "No space left on device".
TFileWriteResult WriteFileReplacing(const std::string& fileName, const std::string& data,
                                    std::string* reason = nullptr);

// Hands the file's URL to the desktop's opener; true when the opener reported success.
bool ExecuteFile(const std::string& file, const char* unused1 = nullptr, const char* unused2 = nullptr);

// Time
int getMilliTime();
void SleepMillis(unsigned int ms);

// The modal open/save question; the chosen file's full path, or "" when the user cancelled.
// Runs on the message thread.
std::string askUserForFileDialog(const std::string& title, const std::string& instructions,
                                 const std::string& patterns, const std::string& patternDescription,
                                 const std::string& initialPath, bool save);

// System version, one decimal digit in each 4-bit group (0x0610 for 6.1.0); -1 until asked.
extern int MacVersion;
bool needPlatform();
int getOSVersionMajor();
int getOSVersionMinor();
int getOSVersionMinorMinor();
std::string getOSVersionString();

} // namespace Tr
