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

// Reads the whole file into a new buffer (it is not mapped). Null on failure, with the reason in
// *error when error is not null; size is written only on success. Release with
// freeMemoryMappedFile.
void* getMemoryMappedFile(const std::string& path, int& size, std::string* error);
void freeMemoryMappedFile(void* buffer);

std::string GetTempFilename(const std::string& path);

enum TFileWriteResult
{
    fwOk,
    fwCannotOpen,   // the file (or the temporary file beside it) could not be created
    fwCannotWrite,  // writing, flushing, closing or the final rename failed
};

// Replaces the contents of fileName by data. A regular file (or a new one) is written to a
// temporary file in the same folder that is renamed over it only once everything is on disk, so
// a failure never leaves a truncated file behind; devices and pipes are written in place.
TFileWriteResult WriteFileReplacing(const std::string& fileName, const std::string& data);

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
