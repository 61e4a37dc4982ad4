// Win32 file access for the DLL: ANSI paths, no sharing, flushed before the
// new file takes the old one's place.
#include <windows.h>

#include "framework/system_files.h"

namespace zvk::fw {
namespace {

// ReadFile and WriteFile take a 32-bit count; big files go in pieces.
constexpr size_t kPiece = size_t{1} << 30;

class Win32File final : public File {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool GetLength(uint64_t& length) override
    {
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(handle_, &size) || size.QuadPart < 0)
            return false;
        length = static_cast<uint64_t>(size.QuadPart);
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

private:
    HANDLE handle_;
};

std::unique_ptr<File> Open(const std::string& path, DWORD access, DWORD disposition)
{
    const HANDLE handle =
        CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<Win32File>(handle);
}

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> OpenForReading(const std::string& path) override
    {
        return Open(path, GENERIC_READ, OPEN_ALWAYS);
    }

    std::unique_ptr<File> CreateForWriting(const std::string& path) override
    {
        return Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    }

    bool Replace(const std::string& source, const std::string& target) override
    {
        return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool Remove(const std::string& path) override
    {
        return DeleteFileA(path.c_str()) != 0;
    }
};

}  // namespace

FileSystem& SystemFileSystem()
{
    static Win32FileSystem files;
    return files;
}

}  // namespace zvk::fw
