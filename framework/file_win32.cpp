// Win32 file access for the DLL: ANSI paths, no sharing, flushed before the
// new file takes the old one's place. Only calls that Windows 9x has too.
// Another program may hold the file for a moment (an antivirus scan just
// after a save, a backup, an indexer): opening and replacing try again.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "framework/system_files.h"

namespace zvk::fw {
namespace {

// ReadFile and WriteFile take a 32-bit count; big files go in pieces.
constexpr size_t kPiece = size_t{1} << 30;

// How long a file held by another program is waited for, in pauses that
// grow from the first to the longest; a file held longer is given up.
constexpr DWORD kHeldWaitMs = 1000;
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 250;

// A rename over a file that another program has open is refused as access
// denied, an open as a sharing violation.
enum class Refusal { kOpen, kRename };

bool HeldByAnother(Refusal refusal)
{
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           (refusal == Refusal::kRename && error == ERROR_ACCESS_DENIED);
}

// A target that a replace has just given up on, and when: the save's
// rewrite in place that follows does not wait for it again, so that one
// save waits about a second in all. A hash: nothing here may allocate.
std::atomic<uint64_t> gGivenUpTarget{0};
std::atomic<DWORD> gGivenUpAt{0};

uint64_t PathHash(const std::string& path)
{
    uint64_t hash = 14695981039346656037u;
    for (const char c : path)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    return hash;
}

bool JustGivenUp(const std::string& path)
{
    return gGivenUpTarget.load(std::memory_order_relaxed) == PathHash(path) &&
           ::GetTickCount() - gGivenUpAt.load(std::memory_order_relaxed) < kHeldWaitMs;
}

// Calls attempt until it succeeds, fails for another reason than a hold,
// or wait ms have gone by. The last attempt's error stays for the caller.
template <class Attempt>
bool WhileHeld(Refusal refusal, DWORD wait, const Attempt& attempt)
{
    DWORD waited = 0;
    DWORD pause = kFirstPauseMs;
    for (;;) {
        if (attempt())
            return true;
        if (!HeldByAnother(refusal) || waited >= wait)
            return false;
        pause = pause < wait - waited ? pause : wait - waited;
        ::Sleep(pause);
        waited += pause;
        pause = pause * 2 < kLongestPauseMs ? pause * 2 : kLongestPauseMs;
    }
}

// The file's attributes; false when they cannot be had, also when there is
// no file (then ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND is left).
bool AttributesOf(const std::string& path, DWORD& attributes)
{
    attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool NoSuchFile()
{
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

class Win32File final : public File {
public:
    Win32File() = default;
    ~Win32File() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    // GetFileSize rather than GetFileSizeEx, which Windows 9x lacks.
    bool GetLength(uint64_t& length) override
    {
        DWORD high = 0;
        SetLastError(NO_ERROR);
        const DWORD low = GetFileSize(handle_, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            return false;
        length = (uint64_t{high} << 32) | low;
        return true;
    }

    bool Read(char* data, size_t size) override
    {
        while (size > 0) {
            const DWORD wanted = static_cast<DWORD>(size < kPiece ? size : kPiece);
            DWORD got = 0;
            if (!ReadFile(handle_, data, wanted, &got, nullptr) || got == 0)
                return false;
            data += got;
            size -= got;
        }
        return true;
    }

    bool Write(const char* data, size_t size) override
    {
        while (size > 0) {
            const DWORD wanted = static_cast<DWORD>(size < kPiece ? size : kPiece);
            DWORD put = 0;
            if (!WriteFile(handle_, data, wanted, &put, nullptr) || put == 0)
                return false;
            data += put;
            size -= put;
        }
        return true;
    }

    bool Commit() override
    {
        const bool flushed = FlushFileBuffers(handle_) != 0;
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return flushed && closed;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Without sharing: while another program has the file open, opening fails
// before anything is truncated.
HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD wait = kHeldWaitMs)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    WhileHeld(Refusal::kOpen, wait, [&] {
        handle = CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

// The owner is made before the file is opened: a file truncated and then
// dropped for want of memory would lose the settings.
std::unique_ptr<Win32File> NewFile()
{
    return std::unique_ptr<Win32File>(new (std::nothrow) Win32File);
}

std::unique_ptr<File> Opened(std::unique_ptr<Win32File> file)
{
    if (!file || file->handle_ == INVALID_HANDLE_VALUE)
        return nullptr;
    return file;
}

// Attributes a replaced file hands on to its successor.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> OpenForReading(const std::string& path) override
    {
        std::unique_ptr<Win32File> file = NewFile();
        if (file)
            file->handle_ = Open(path, GENERIC_READ, OPEN_ALWAYS);
        return Opened(std::move(file));
    }

    // Truncating an existing file keeps its attributes (and a hidden or
    // system file would refuse CREATE_ALWAYS). The read-only attribute is
    // looked at first: Wine run as root would open such a file.
    std::unique_ptr<File> CreateForWriting(const std::string& path) override
    {
        std::unique_ptr<Win32File> file = NewFile();
        if (!file || IsReadOnly(path))
            return nullptr;
        file->handle_ = Open(path, GENERIC_WRITE, TRUNCATE_EXISTING, JustGivenUp(path) ? 0 : kHeldWaitMs);
        if (file->handle_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
            file->handle_ = Open(path, GENERIC_WRITE, CREATE_NEW);
        return Opened(std::move(file));
    }

    // The source takes exactly the target's kept attributes first: what it
    // had of its own (read-only, say) would otherwise become the settings
    // file's. Where the target's attributes cannot be had (but for a target
    // that does not exist yet) or set, nothing is moved. MoveFileExA exists on Windows 9x but does nothing
    // there: false.
    bool Replace(const std::string& source, const std::string& target) override
    {
        DWORD old = 0;
        if (!AttributesOf(target, old) && !NoSuchFile())
            return false;
        if (old == INVALID_FILE_ATTRIBUTES)
            old = 0;  // the first save: no file yet
        if (old & FILE_ATTRIBUTE_READONLY)
            return false;
        const DWORD kept = old & kKeptAttributes;
        if (!SetFileAttributesA(source.c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL))
            return false;
        if (WhileHeld(Refusal::kRename, kHeldWaitMs, [&] {
                return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            }))
            return true;
        if (HeldByAnother(Refusal::kRename)) {
            gGivenUpTarget.store(PathHash(target), std::memory_order_relaxed);
            gGivenUpAt.store(::GetTickCount(), std::memory_order_relaxed);
        }
        return false;
    }

    // A file that cannot be deleted may be read-only: the attribute goes,
    // also when the query fails.
    bool Remove(const std::string& path) override
    {
        if (DeleteFileA(path.c_str()))
            return true;
        DWORD attributes = 0;
        const bool known = AttributesOf(path, attributes);
        if ((!known && NoSuchFile()) || (known && !(attributes & FILE_ATTRIBUTE_READONLY)))
            return false;
        SetFileAttributesA(path.c_str(), known ? attributes & ~DWORD{FILE_ATTRIBUTE_READONLY} : FILE_ATTRIBUTE_NORMAL);
        return DeleteFileA(path.c_str()) != 0;
    }

    // Only "not found" counts as missing: a path that cannot even be asked
    // about may hold a file.
    bool Exists(const std::string& path) override
    {
        DWORD attributes = 0;
        return AttributesOf(path, attributes) || !NoSuchFile();
    }

    // A query that fails for another reason than a missing file may hide a
    // read-only one: it counts as read-only.
    bool IsReadOnly(const std::string& path) override
    {
        DWORD attributes = 0;
        if (!AttributesOf(path, attributes))
            return !NoSuchFile();
        return (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    }
};

}  // namespace

FileSystem& SystemFileSystem()
{
    static Win32FileSystem files;
    return files;
}

}  // namespace zvk::fw
