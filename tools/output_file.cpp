#include "tools/output_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zvk {
namespace {

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// The folder part of a path, "." when it has none.
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The permissions a newly created file would get.
mode_t NewFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool OutputFile::Open(const std::string& path, std::string& error)
{
    if (path.empty()) {
        fd_ = STDOUT_FILENO;
        name_ = "standard output";
        return true;
    }
    name_ = path;

    struct stat info {};
    mode_t mode = 0;
    if (stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd_ < 0) {
                error = "cannot open " + path + ": " + ErrnoText(errno);
                return false;
            }
            ownsFd_ = true;
            return true;
        }
        // Replace the file a symbolic link points to, not the link.
        char resolved[PATH_MAX];
        target_ = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
        mode = info.st_mode & 07777;
    } else if (errno == ENOENT) {
        target_ = path;
        mode = NewFileMode();
    } else {
        error = "cannot write " + path + ": " + ErrnoText(errno);
        return false;
    }

    // Beside the target, so that the final rename stays within one file system.
    std::string pattern = FolderOf(target_) + "/." + BaseOf(target_) + ".zvkgamma-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error = "cannot create a temporary file in " + FolderOf(target_) + " for " + path +
                ": " + ErrnoText(errno);
        return false;
    }
    ownsFd_ = true;
    tempPath_ = name.data();
    fchmod(fd_, mode);  // best effort: the data matter more than the mode
    return true;
}

bool OutputFile::Commit(std::string& error)
{
    if (!ownsFd_)
        return true;
    if (!tempPath_.empty() && fsync(fd_) != 0) {
        error = "cannot write " + name_ + ": " + ErrnoText(errno);
        Discard();
        return false;
    }
    const int closed = close(fd_);
    const int closeError = errno;
    fd_ = -1;
    ownsFd_ = false;
    if (closed != 0) {
        error = "cannot write " + name_ + ": " + ErrnoText(closeError);
        Discard();
        return false;
    }
    if (!tempPath_.empty()) {
        if (rename(tempPath_.c_str(), target_.c_str()) != 0) {
            error = "cannot replace " + name_ + ": " + ErrnoText(errno);
            Discard();
            return false;
        }
        tempPath_.clear();
    }
    return true;
}

void OutputFile::Discard()
{
    if (ownsFd_) {
        close(fd_);
        fd_ = -1;
        ownsFd_ = false;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

}  // namespace zvk
