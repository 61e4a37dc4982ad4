// Settings store: what it needs of the system, as small interfaces. The
// Windows implementations live in framework/, the POSIX file access too;
// tests bring their own fakes. Portable code; no system headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zvk {

// The system queries that decide where the settings file lives.
class LocationPlatform {
public:
    virtual ~LocationPlatform() = default;
    // The platform family: true for the NT family. False when the system
    // cannot tell its version (both version records failed).
    virtual bool QueryPlatform(bool& ntFamily) = 0;
    // "StoreInUsersFolder" under HKLM "SOFTWARE\Zentavio"; 0 when missing.
    virtual uint32_t StoreInUsersFolder() = 0;
    // The user's roaming application-data folder, without a trailing
    // backslash, as the system answers (empty when it has none).
    virtual std::string AppDataFolder() = 0;
    // The host executable's full path.
    virtual std::string HostExecutablePath() = 0;
    virtual std::string CommandLine() = 0;
    // Creates the last folder of the path; whether it worked is not asked.
    virtual void CreateFolder(const std::string& path) = 0;
};

// One open file, never shared with another opener; closed when destroyed.
class File {
public:
    virtual ~File() = default;
    virtual bool GetLength(uint64_t& length) = 0;
    // Reads exactly size bytes; false when fewer could be read.
    virtual bool Read(char* data, size_t size) = 0;
    // Writes all size bytes; false when any of them could not be written.
    virtual bool Write(const char* data, size_t size) = 0;
    // Puts what was written on the disk and closes; false when that failed.
    virtual bool Commit() = 0;
};

// Files by path. Paths are Windows paths (backslashes); an implementation
// for another system maps them. A file that another program holds for a
// moment (a scan, a backup) may be waited for, about a second at most per
// call; one held longer counts as one that cannot be opened or replaced.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // For reading: an empty file is created when none exists, an existing
    // one is never truncated. Null when the file cannot be opened.
    virtual std::unique_ptr<File> OpenForReading(const std::string& path) = 0;
    // For writing: created, or truncated when it exists; an existing file
    // keeps its attributes. Null for a read-only file, and for a file that
    // another opener has: that one's data stays as it was.
    virtual std::unique_ptr<File> CreateForWriting(const std::string& path) = 0;
    // Puts source in the place of target in one step, replacing target and
    // keeping target's attributes (none of source's own). False where the
    // system cannot do that.
    virtual bool Replace(const std::string& source, const std::string& target) = 0;
    // Removes a file, a read-only one too.
    virtual bool Remove(const std::string& path) = 0;
    // Whether anything stands at the path, also when it cannot be opened.
    virtual bool Exists(const std::string& path) = 0;
    // Whether the file there has the read-only attribute; true also when
    // that cannot be told (a query that fails for another reason than a
    // missing file), so that no save overwrites a frozen file.
    virtual bool IsReadOnly(const std::string& path) = 0;
};

}  // namespace zvk
