#include "TrFiles.h"

#include "TrUtil.h"
#include "platform/Gestalt.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <vector>

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

// Why a path that exists is refused by the file roads, or "" for a regular file.
std::string notRegularKind(const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return std::string();
    const char* kind = S_ISDIR(st.st_mode)                           ? "folder"
                       : S_ISFIFO(st.st_mode)                        ? "named pipe"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)  ? "device"
                       : S_ISSOCK(st.st_mode)                        ? "socket"
                                                                     : "special file";
    return std::string("not a regular file (") + kind + ")";
}

// The system's words for an errno value, such as "No space left on device".
std::string systemCause(int error)
{
    return std::generic_category().message(error);
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
        FError = notRegularKind(st) + ": " + path;
        return;
    }
    // Without O_NONBLOCK a named pipe put there since the look would hold the open until a
    // writer comes.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0)
        FError = "error opening file: " + path + ": " + systemCause(errno);
    else if (!S_ISREG(st.st_mode))
        FError = notRegularKind(st) + ": " + path;
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

namespace {

// Where a write to path lands: path itself, or for a symbolic link the end of its chain, also when
// nothing is there yet (a link to a file that was deleted is written through like any other link).
// False, with errno set, when the chain does not end.
bool followLinks(const std::string& path, std::string& target)
{
    target = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        char to[PATH_MAX];
        const ssize_t n = readlink(target.c_str(), to, sizeof to);
        if (n < 0)
            return false;
        if (n == 0 || (size_t)n >= sizeof to) {
            errno = n == 0 ? ENOENT : ENAMETOOLONG;
            return false;
        }
        const std::string link(to, (size_t)n);
        const std::string folder = ExtractFileDir(target);
        target = link[0] == '/' || folder.empty() ? link : AddLastBackSlash(folder) + link;
    }
    errno = ELOOP;
    return false;
}

// A temporary file is named after a hash of its target's name rather than after the name itself,
// so that it fits the file-name limit however long the target's name is, followed by the pid of
// the process that writes it and a counter. It is hidden: it is no file of the user's.
const char* const TempPrefix = ".trtmp-";

std::string targetHash(const std::string& name)
{
    uint64_t hash = 14695981039346656037ull;   // FNV-1a: the same in every process and every version
    for (const char c : name) {
        hash ^= (unsigned char)c;
        hash *= 1099511628211ull;
    }
    char text[17];
    snprintf(text, sizeof text, "%016llx", (unsigned long long)hash);
    return text;
}

std::string inFolder(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : AddLastBackSlash(folder) + name;
}

// The pid in "<pid>-<counter>", the end of a temporary file's name; 0 when rest is not of that form.
pid_t writerOf(const std::string& rest)
{
    const size_t dash = rest.find('-');
    const auto digits = [&rest](size_t from, size_t to, size_t most) {
        return to > from && to - from <= most && rest.find_first_not_of("0123456789", from) >= to;
    };
    if (dash == std::string::npos || !digits(0, dash, 9) || !digits(dash + 1, rest.size(), 10))
        return 0;
    return (pid_t)std::stol(rest.substr(0, dash));
}

// Whether name is a temporary file of a write to the target whose name has this hash: its
// writer's pid, else 0. Names of any other form may be the user's and are never touched.
pid_t temporaryWriter(const std::string& name, const std::string& hash)
{
    const std::string prefix = TempPrefix + hash + "-";
    return name.compare(0, prefix.size(), prefix) == 0 ? writerOf(name.substr(prefix.size())) : 0;
}

bool processIsGone(pid_t pid)
{
    return kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes path when it is a regular file nobody holds a lock on: a writer keeps its temporary file
// locked, which also guards the temporary files of processes this one cannot see (another pid
// namespace, another machine on a shared folder).
void removeUnlocked(const std::string& path)
{
    struct stat before;
    if (lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode))
        return;
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened, now;
    if (!fd.valid() || fstat(fd.get(), &opened) != 0 || opened.st_ino != before.st_ino || opened.st_dev != before.st_dev)
        return;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    if (lstat(path.c_str(), &now) == 0 && now.st_ino == opened.st_ino && now.st_dev == opened.st_dev)
        unlink(path.c_str());
}

// A write that was killed or crashed leaves its temporary file behind; the next write of the same
// target clears what its dead predecessors left, and nothing else.
void removeStaleTemporaries(const std::string& folder, const std::string& hash)
{
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir.get())) {
        const pid_t writer = temporaryWriter(entry->d_name, hash);
        if (writer > 0 && writer != getpid() && processIsGone(writer))
            removeUnlocked(inFolder(folder, entry->d_name));
    }
}

// Reads an answer of the system whose size is asked first: ask(nullptr, 0) gives the size,
// ask(buffer, size) fills the buffer. Asked again when the answer grew in between.
template <typename Ask>
bool readSized(const Ask& ask, std::string& answer)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ask(nullptr, 0);
        if (size < 0)
            return false;
        answer.assign((size_t)size, '\0');
        const ssize_t got = ask(&answer[0], answer.size());
        if (got >= 0) {
            answer.resize((size_t)got);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

// The names of a file's extended attributes, listed by list(buffer, size); a file system that has
// none lists none.
template <typename List>
bool attributeNames(const List& list, std::vector<std::string>& names)
{
    std::string all;
    if (!readSized(list, all))
        return errno == ENOTSUP;
    for (size_t at = 0; at < all.size(); at = all.find('\0', at) + 1)
        names.emplace_back(all.c_str() + at);
    return true;
}

// Gives the open file the extended attributes of the file at path, access control lists among
// them, and takes away those it got from its folder that the file at path does not have.
bool copyAttributes(const std::string& path, int to)
{
    std::vector<std::string> names, own;
    if (!attributeNames([&](char* b, size_t n) { return llistxattr(path.c_str(), b, n); }, names)
        || !attributeNames([&](char* b, size_t n) { return flistxattr(to, b, n); }, own))
        return false;
    for (const std::string& name : own)
        if (std::find(names.begin(), names.end(), name) == names.end() && fremovexattr(to, name.c_str()) != 0)
            return false;
    for (const std::string& name : names) {
        std::string value;
        if (!readSized([&](char* b, size_t n) { return lgetxattr(path.c_str(), name.c_str(), b, n); }, value)
            || fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// Gives the new file, already given the old one's owner and group, its extended attributes and
// then its mode: an access control list sets the group bits of the mode. False when either cannot
// be had.
bool takeAttributesAndMode(int fd, const std::string& old, const struct stat& st)
{
    struct stat now;
    return copyAttributes(old, fd) && fchmod(fd, st.st_mode & 07777) == 0 && fstat(fd, &now) == 0
           && (now.st_mode & 07777) == (st.st_mode & 07777);
}

// Writes data over the regular file at path, examined as st, which so stays the file it is. The
// room for the new contents is taken first, so a full disk fails before an old byte is lost.
TFileWriteResult writeInPlace(const std::string& path, const struct stat& st, const std::string& data, std::string& why)
{
    // Opened without waiting and without following a link: something else may have taken the name
    // since it was examined.
    FileDescriptor fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat opened;
    if (!fd.valid() || fstat(fd.get(), &opened) != 0) {
        why = systemCause(errno);
        return fwCannotOpen;
    }
    if (!S_ISREG(opened.st_mode)) {
        why = notRegularKind(opened);
        return fwNotRegularFile;
    }
    if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
        why = "the file was replaced while it was being saved";
        return fwCannotOpen;
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags != -1)
        (void)fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);

    // A file system that cannot reserve room is written all the same.
    int error = 0;
    if (!data.empty() && fallocate(fd.get(), 0, 0, (off_t)data.size()) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        error = errno;
    if (!error && !writeAll(fd.get(), data))
        error = errno;
    if (!error && ftruncate(fd.get(), (off_t)data.size()) != 0)
        error = errno;
    if (!error && fsync(fd.get()) != 0 && errno != EINVAL)
        error = errno;
    if (!fd.close() && !error)
        error = errno;
    if (error) {
        why = systemCause(error);
        return fwCannotWrite;
    }
    return fwOk;
}

} // namespace

TFileWriteResult WriteFileReplacing(const std::string& fileName, const std::string& data, std::string* reason)
{
    auto fail = [reason](TFileWriteResult result, const std::string& why) {
        if (reason)
            *reason = why;
        return result;
    };
    std::string target;
    if (!followLinks(fileName, target))
        return fail(fwCannotOpen, systemCause(errno));

    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return fail(fwCannotOpen, systemCause(errno));
    if (exists && !S_ISREG(st.st_mode))
        return fail(fwNotRegularFile, notRegularKind(st));
    // Renaming over a file needs only the folder's permission: a file its owner protected from
    // writing is refused here as writing it in place would be (root may write anything). Asked
    // without opening it, which file watchers would take for a write.
    if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return fail(fwCannotOpen, systemCause(errno));

    const std::string folder = ExtractFileDir(target), hash = targetHash(ExtractFileName(target));
    removeStaleTemporaries(folder, hash);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int handle = -1;
    for (int attempt = 0; attempt < 100 && handle < 0; ++attempt) {
        temp = inFolder(folder, TempPrefix + hash + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        handle = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle < 0 && errno != EEXIST)
            return fail(fwCannotOpen, systemCause(errno));
    }
    FileDescriptor out(handle);
    if (!out.valid())
        return fail(fwCannotOpen, systemCause(EEXIST));
    // Held until the file is closed; where locks are not to be had, the pid in the name alone
    // tells a later write that this one is still going.
    (void)flock(out.get(), LOCK_EX | LOCK_NB);

    // A new file that cannot be made the old one's would take the file from its owner or group,
    // as when a member of the group saves another user's file: the old file is written instead.
    const auto writeOldFile = [&] {
        out.close();
        unlink(temp.c_str());
        std::string why;
        const TFileWriteResult written = writeInPlace(target, st, data, why);
        return written == fwOk ? fwOk : fail(written, why);
    };
    // The owner first, before a byte is written: only root and the owner may give a file away, and
    // a change of owner clears the set-id bits. Attributes and mode after the write, which clears
    // set-id bits and file capabilities too.
    if (exists && fchown(out.get(), st.st_uid, st.st_gid) != 0)
        return writeOldFile();
    int error = writeAll(out.get(), data) ? 0 : errno;
    if (!error && exists && !takeAttributesAndMode(out.get(), target, st))
        return writeOldFile();
    // Without the sync a crash right after the rename could leave an empty file.
    if (!error && fsync(out.get()) != 0 && errno != EINVAL)
        error = errno;
    if (!out.close() && !error)
        error = errno;
    if (!error && rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error) {
        unlink(temp.c_str());
        return fail(fwCannotWrite, systemCause(error));
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
