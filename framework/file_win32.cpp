// Win32 file access for the DLL: ANSI paths, no sharing, flushed before the
// new file takes the old one's place. Only calls that Windows 9x has too.
#include <windows.h>

#include <new>

#include "framework/system_files.h"

namespace zvk::fw {
namespace {

// ReadFile and WriteFile take a 32-bit count; big files go in pieces.
constexpr size_t kPiece = size_t{1} << 30;

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
HANDLE Open(const std::string& path, DWORD access, DWORD disposition)
{
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
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
        file->handle_ = Open(path, GENERIC_WRITE, TRUNCATE_EXISTING);
        if (file->handle_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
            file->handle_ = Open(path, GENERIC_WRITE, CREATE_NEW);
        return Opened(std::move(file));
    }

    // MoveFileExA exists on Windows 9x but does nothing there: false.
    bool Replace(const std::string& source, const std::string& target) override
    {
        const DWORD old = GetFileAttributesA(target.c_str());
        if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY))
            return false;
        if (old != INVALID_FILE_ATTRIBUTES && (old & kKeptAttributes))
            SetFileAttributesA(source.c_str(), old & kKeptAttributes);
        return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool Remove(const std::string& path) override
    {
        if (DeleteFileA(path.c_str()))
            return true;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
            return false;
        SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        return DeleteFileA(path.c_str()) != 0;
    }

    // Only "not found" counts as missing: a path that cannot even be asked
    // about may hold a file.
    bool Exists(const std::string& path) override
    {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        const DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }

    bool IsReadOnly(const std::string& path) override
    {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    }
};

}  // namespace

FileSystem& SystemFileSystem()
{
    static Win32FileSystem files;
    return files;
}

}  // namespace zvk::fw
