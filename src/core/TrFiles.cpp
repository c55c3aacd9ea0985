#include "TrFiles.h"

#include "TrUtil.h"
#include "platform/Gestalt.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace Tr {

int MacVersion = -1;

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return FFd; }
    bool valid() const { return FFd >= 0; }
    // Closes now so that the caller learns whether the close succeeded.
    bool close()
    {
        if (FFd < 0)
            return true;
        int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

bool writeAll(int fd, const std::string& data)
{
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= (size_t)n;
    }
    return true;
}

// The reason a path that exists is refused by the file roads, or "" for a regular file.
std::string notRegularReason(const struct stat& st, const std::string& path)
{
    if (S_ISREG(st.st_mode))
        return std::string();
    const char* kind = S_ISDIR(st.st_mode)                           ? "folder"
                       : S_ISFIFO(st.st_mode)                        ? "named pipe"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)  ? "device"
                       : S_ISSOCK(st.st_mode)                        ? "socket"
                                                                     : "special file";
    return std::string("not a regular file (") + kind + "): " + path;
}

// The position of the dot that starts the extension of the file name; npos when there is none.
size_t extensionDot(const std::string& path)
{
    size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return dot;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > dot)
        return std::string::npos;
    return dot;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Folders

std::string getHomeDirectory()
{
    if (const char* home = getenv("HOME"))
        return home;
    if (const passwd* pw = getpwuid(getuid()))
        if (pw->pw_dir)
            return pw->pw_dir;
    return "~";
}

std::string getVuskSettingsBaseDir()
{
    return getHomeDirectory() + "/" + "." + "Quorva Tindral";
}

std::string getMyDocumentsDirectory()
{
    return getHomeDirectory() + "/Documents";
}

bool ForceDirectories(const std::string& dir)
{
    if (dir.empty())
        return false;
    if (DirExists(dir))
        return true;
    if (!ForceDirectories(ExtractFileDir(dir)))
        return false;
    return mkdir(dir.c_str(), 0777) == 0;
}

// ---------------------------------------------------------------------------------------------
// Path arithmetic

std::string ExtractFileDir(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileNameWithoutExtension(const std::string& path)
{
    return RemoveFileExtension(ExtractFileName(path));
}

std::string ExtractFileExtension(const std::string& path)
{
    if (path.find('/') == std::string::npos)
        return std::string();
    size_t dot = extensionDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string RemoveFileExtension(const std::string& path)
{
    size_t dot = extensionDot(path);
    return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    return RemoveFileExtension(path) + ext;
}

std::string AddLastBackSlash(const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return path;
    return path + "/";
}

bool IsAbsoluteFilename(const std::string& path)
{
    size_t i = 0;
    // Only quotes and control/blank bytes are skipped: bytes of UTF-8 characters are part of a
    // name, so "é/x" is relative.
    while (i < path.size() && (path[i] == '"' || (unsigned char)path[i] <= 32))
        ++i;
    return i + 1 < path.size() && path[i] == '/';
}

std::string MakeAbsoluteFilename(const std::string& name, const std::string& base)
{
    if (IsAbsoluteFilename(name))
        return name;
    if ((!name.empty() && name.front() == '/') || (!base.empty() && base.back() == '/'))
        return base + name;
    return base + "/" + name;
}

// ---------------------------------------------------------------------------------------------
// File tests and operations

bool DirExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirOrFileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool FileIsReadOnly(const std::string& path)
{
    return access(path.c_str(), W_OK) != 0;
}

bool FileRename(const std::string& from, const std::string& to)
{
    return rename(from.c_str(), to.c_str()) == 0;
}

bool FileDelete(const std::string& path)
{
    return remove(path.c_str()) == 0;
}

void TruncateFile(const std::string& path)
{
    // A file that cannot be opened is left as it is; there is nothing to truncate. Only a regular
    // file is emptied: a pipe would hold the open, and a device is nothing to truncate.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return;
    FileDescriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
    if (fd.valid() && fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode))
        (void)ftruncate(fd.get(), 0);
}

TInputFile::TInputFile(const std::string& path)
    : FPath(path)
{
    // Looking first keeps devices from being opened at all: opening some has effects of its own.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        FError = notRegularReason(st, path);
        return;
    }
    // Without O_NONBLOCK a named pipe put there since the look would hold the open until a
    // writer comes.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0)
        FError = "error opening file: : " + path;
    else
        FError = notRegularReason(st, path);
    if (!FError.empty()) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FFd = fd;
    FSize = (long long)st.st_size;
}

TInputFile::~TInputFile()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TInputFile::read(void* buffer, size_t n)
{
    if (FFd < 0)
        return false;
    char* p = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::read(FFd, p, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= (size_t)got;
    }
    return true;
}

void* getMemoryMappedFile(const std::string& path, int& size, std::string* error)
{
    TInputFile file(path);
    return getMemoryMappedFile(file, size, error);
}

void* getMemoryMappedFile(TInputFile& file, int& size, std::string* error)
{
    auto fail = [error](const std::string& text) -> void* {
        if (error)
            *error = text;
        return nullptr;
    };

    if (!file.isOpen())
        return fail(file.error());
    const long long n = file.size();
    if (n >= WholeFileSizeLimit)
        return fail("file too large (2GB limit): " + file.path());

    void* buffer = malloc(n > 0 ? (size_t)n : 1);
    if (!buffer)
        return fail("out of memory (trying to allocate " + std::to_string(n) + " bytes).");

    if (!file.read(buffer, (size_t)n)) {
        free(buffer);
        return fail("error reading file into buffer : " + file.path());
    }
    size = (int)n;
    return buffer;
}

void freeMemoryMappedFile(void* buffer)
{
    free(buffer);
}

std::string GetTempFilename(const std::string& path)
{
    std::string folder = path;
    std::string base = "temp";
    std::string ext = ".tmp";
    if (path.empty()) {
        folder = "/tmp";
    } else if (FileExists(path)) {
        folder = ExtractFileDir(path);
        std::string name = ExtractFileName(path);
        std::string extension = ExtractFileExtension(path);
        if (!name.empty())
            base = name;
        if (!extension.empty())
            ext = extension;
    }
    for (int n = 1; n < INT_MAX; ++n) {
        std::string candidate = folder + "/" + base + std::to_string(n) + ext;
        struct stat st;
        if (stat(candidate.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            return candidate;
    }
    return std::string();
}

TFileWriteResult WriteFileReplacing(const std::string& fileName, const std::string& data, std::string* refusal)
{
    std::string target = fileName;
    struct stat lst;
    if (lstat(fileName.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        // Replace the file the link points to, not the link.
        if (char* real = realpath(fileName.c_str(), nullptr)) {
            target = real;
            free(real);
        }
    }

    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (refusal)
            *refusal = notRegularReason(st, fileName);
        return fwNotRegularFile;
    }

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int handle = -1;
    for (int attempt = 0; attempt < 100 && handle < 0; ++attempt) {
        temp = target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        handle = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST)
            return fwCannotOpen;
    }
    FileDescriptor out(handle);
    if (!out.valid())
        return fwCannotOpen;

    if (exists) {
        // Keep the old file's permissions and owner; failing to is not worth losing the new
        // contents over.
        (void)fchmod(out.get(), st.st_mode & 07777);
        (void)fchown(out.get(), st.st_uid, st.st_gid);
    }
    bool ok = writeAll(out.get(), data);
    // Without the sync a crash right after the rename could leave an empty file.
    ok = ok && (fsync(out.get()) == 0 || errno == EINVAL);
    ok = out.close() && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return fwCannotWrite;
    }
    return fwOk;
}

// ---------------------------------------------------------------------------------------------
// Time

int getMilliTime()
{
    static const time_t firstSeconds = [] {
        timeval tv;
        gettimeofday(&tv, nullptr);
        return tv.tv_sec;
    }();
    timeval tv;
    gettimeofday(&tv, nullptr);
    return (int)((tv.tv_sec - firstSeconds) * 1000 + tv.tv_usec / 1000);
}

void SleepMillis(unsigned int ms)
{
    timespec req;
    req.tv_sec = ms / 1000;
    req.tv_nsec = (long)(ms % 1000) * 1000000L;
    timespec rem;
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

// ---------------------------------------------------------------------------------------------
// System version

bool needPlatform()
{
    if (MacVersion != -1)
        return true;
    int32_t value = 0;
    if (Gestalt(gestaltSystemVersion, &value) != 0)
        return false;
    MacVersion = value;
    return true;
}

int getOSVersionMajor()
{
    if (!needPlatform())
        return 0;
    int major = (MacVersion >> 8) & 0xFF;
    return major >= 16 ? major - 6 : major;
}

int getOSVersionMinor()
{
    return needPlatform() ? (MacVersion >> 4) & 0xF : 0;
}

int getOSVersionMinorMinor()
{
    return needPlatform() ? MacVersion & 0xF : 0;
}

std::string getOSVersionString()
{
    if (!needPlatform())
        return "(unknown OSX version)";
    return Format("%d.%d.%d", getOSVersionMajor(), getOSVersionMinor(), getOSVersionMinorMinor());
}

} // namespace Tr
