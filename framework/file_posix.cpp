// POSIX file access for the native build. Windows paths are mapped by
// turning backslashes into slashes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "framework/system_files.h"

namespace zvk::fw {
namespace {

std::string NativePath(std::string path)
{
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

class PosixFile final : public File {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override
    {
        if (fd_ >= 0)
            close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool GetLength(uint64_t& length) override
    {
        struct stat info = {};
        if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))
            return false;
        length = static_cast<uint64_t>(info.st_size);
        return true;
    }

    bool Read(char* data, size_t size) override
    {
        while (size > 0) {
            const ssize_t got = read(fd_, data, size);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            data += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }

    bool Write(const char* data, size_t size) override
    {
        while (size > 0) {
            const ssize_t put = write(fd_, data, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            data += put;
            size -= static_cast<size_t>(put);
        }
        return true;
    }

    bool Commit() override
    {
        const bool synced = fsync(fd_) == 0;
        const bool closed = close(fd_) == 0;
        fd_ = -1;
        return synced && closed;
    }

private:
    int fd_;
};

// Opens and takes the file for this opener alone, as Windows does without
// sharing. It is emptied only once the lock is held, so that a refused
// opener never touches another's data.
std::unique_ptr<File> OpenExclusive(const std::string& path, int flags, bool truncate)
{
    const int fd = open(NativePath(path).c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

// No write permission for anyone stands for the read-only attribute; the
// bits are looked at rather than access(), which says yes to root. A file
// that cannot be asked about (but may be there) counts as read-only.
bool WithoutWriteBits(const std::string& nativePath)
{
    struct stat info = {};
    if (stat(nativePath.c_str(), &info) != 0)
        return errno != ENOENT && errno != ENOTDIR;
    return (info.st_mode & 0222) == 0;
}

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<File> OpenForReading(const std::string& path) override
    {
        return OpenExclusive(path, O_RDONLY | O_CREAT, false);
    }

    std::unique_ptr<File> CreateForWriting(const std::string& path) override
    {
        if (WithoutWriteBits(NativePath(path)))
            return nullptr;
        return OpenExclusive(path, O_WRONLY | O_CREAT, true);
    }

    bool Replace(const std::string& source, const std::string& target) override
    {
        const std::string from = NativePath(source);
        const std::string to = NativePath(target);
        if (WithoutWriteBits(to))
            return false;
        // The new file takes the old one's permissions.
        struct stat old = {};
        if (stat(to.c_str(), &old) == 0)
            chmod(from.c_str(), old.st_mode & 07777);
        if (std::rename(from.c_str(), to.c_str()) != 0)
            return false;
        // The new name reaches the disk with its folder.
        const size_t slash = to.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
        return true;
    }

    bool Remove(const std::string& path) override
    {
        return unlink(NativePath(path).c_str()) == 0;
    }

    bool Exists(const std::string& path) override
    {
        struct stat info = {};
        return lstat(NativePath(path).c_str(), &info) == 0;
    }

    bool IsReadOnly(const std::string& path) override
    {
        return WithoutWriteBits(NativePath(path));
    }
};

}  // namespace

FileSystem& SystemFileSystem()
{
    static PosixFileSystem files;
    return files;
}

}  // namespace zvk::fw
