// Where zvkgamma writes its frames. A regular file named by -o is replaced
// only on success, through a temporary file beside it, so a failed run never
// leaves a half-written file under the user's name. POSIX.
#pragma once

#include <string>

namespace zvk {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // path empty: standard output. A path that names a device or a pipe is
    // written directly, since it cannot be replaced.
    bool Open(const std::string& path, std::string& error);

    int fd() const { return fd_; }
    // The temporary file being written, or empty when writing directly.
    const std::string& TempPath() const { return tempPath_; }
    // "standard output" or the path given.
    const std::string& Name() const { return name_; }

    // Flushes and puts the file in place; on failure the old file stays.
    bool Commit(std::string& error);
    // Drops the temporary file; the old file stays.
    void Discard();

private:
    int fd_ = -1;
    bool ownsFd_ = false;
    std::string name_;
    std::string target_;
    std::string tempPath_;
};

}  // namespace zvk
