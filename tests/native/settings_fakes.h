// A pretend Windows for the settings store: the location queries and a file
// system in memory, with folders that must exist and failures on demand.
// Shared by the native tests and the fuzz targets.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings_platform.h"

namespace zvk::fake {

class System : public LocationPlatform, public FileSystem {
public:
    // Location queries, preset to the host C:\TV\tvhost.exe on an NT system.
    bool versionKnown = true;
    bool ntFamily = true;
    uint32_t usersFolderValue = 0;
    std::string appData = "C:\\Users\\viewer\\AppData\\Roaming";
    std::string exePath = "C:\\TV\\tvhost.exe";
    std::string commandLine = "\"C:\\TV\\tvhost.exe\"";
    std::vector<std::string> foldersAskedFor;

    // Folders that exist, each with its trailing backslash.
    std::set<std::string> folders = {"C:\\", "C:\\TV\\", "C:\\Users\\", "C:\\Users\\viewer\\",
                                     "C:\\Users\\viewer\\AppData\\", "C:\\Users\\viewer\\AppData\\Roaming\\"};
    std::map<std::string, std::string> files;
    // Files with the read-only attribute, and files another program holds
    // open without sharing.
    std::set<std::string> readOnly;
    std::set<std::string> held;

    // Failures to act out.
    bool failOpenForReading = false;
    size_t readableBytes = SIZE_MAX;  // a read past this many bytes fails
    bool failCreateForWriting = false;
    size_t writableBytes = SIZE_MAX;  // a write past this many bytes fails
    bool failCommit = false;
    bool failReplace = false;

    // What happened.
    int opensForReading = 0;
    int createsForWriting = 0;
    int replaces = 0;
    std::vector<std::string> removed;

    bool QueryPlatform(bool& nt) override
    {
        nt = ntFamily;
        return versionKnown;
    }
    uint32_t StoreInUsersFolder() override { return usersFolderValue; }
    std::string AppDataFolder() override { return appData; }
    std::string HostExecutablePath() override { return exePath; }
    std::string CommandLine() override { return commandLine; }
    void CreateFolder(const std::string& path) override
    {
        foldersAskedFor.push_back(path);
        const std::string folder = WithSlash(path);
        if (folders.count(Parent(folder)))
            folders.insert(folder);
    }

    std::unique_ptr<File> OpenForReading(const std::string& path) override
    {
        ++opensForReading;
        if (failOpenForReading || held.count(path) || !folders.count(Parent(path)))
            return nullptr;
        files[path];  // created empty when missing
        return std::make_unique<MemoryFile>(*this, path);
    }
    std::unique_ptr<File> CreateForWriting(const std::string& path) override
    {
        ++createsForWriting;
        if (failCreateForWriting || held.count(path) || readOnly.count(path) || !folders.count(Parent(path)))
            return nullptr;
        files[path].clear();
        return std::make_unique<MemoryFile>(*this, path);
    }
    bool Replace(const std::string& source, const std::string& target) override
    {
        ++replaces;
        const auto found = files.find(source);
        if (failReplace || found == files.end() || held.count(source) || held.count(target) ||
            readOnly.count(target))
            return false;
        std::string moved = std::move(found->second);
        files.erase(found);
        files[target] = std::move(moved);
        return true;
    }
    bool Remove(const std::string& path) override
    {
        removed.push_back(path);
        if (held.count(path))
            return false;
        readOnly.erase(path);
        return files.erase(path) == 1;
    }
    bool Exists(const std::string& path) override { return files.count(path) == 1; }
    bool IsReadOnly(const std::string& path) override { return readOnly.count(path) == 1; }

    static std::string Parent(const std::string& path)
    {
        const std::string trimmed = !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
        const size_t slash = trimmed.rfind('\\');
        return slash == std::string::npos ? std::string() : trimmed.substr(0, slash + 1);
    }
    static std::string WithSlash(const std::string& path)
    {
        return !path.empty() && path.back() == '\\' ? path : path + "\\";
    }

private:
    class MemoryFile : public File {
    public:
        MemoryFile(System& system, std::string path) : system_(system), path_(std::move(path)) {}
        bool GetLength(uint64_t& length) override
        {
            length = Content().size();
            return true;
        }
        bool Read(char* data, size_t size) override
        {
            const std::string& content = Content();
            if (size > content.size() - offset_)
                return false;
            const size_t allowed = system_.readableBytes > offset_ ? system_.readableBytes - offset_ : 0;
            const size_t part = size < allowed ? size : allowed;
            std::memcpy(data, content.data() + offset_, part);
            offset_ += part;
            return part == size;
        }
        bool Write(const char* data, size_t size) override
        {
            std::string& content = Content();
            const size_t allowed = system_.writableBytes > content.size() ? system_.writableBytes - content.size() : 0;
            content.append(data, size < allowed ? size : allowed);
            return size <= allowed;
        }
        bool Commit() override { return !system_.failCommit; }

    private:
        std::string& Content() { return system_.files[path_]; }
        System& system_;
        std::string path_;
        size_t offset_ = 0;
    };
};

// The settings file's place for the preset host and plug-in.
constexpr char kIniPath[] = "C:\\TV\\Plugins\\ZVK_Gamma.ini";
constexpr char kPluginsFolder[] = "C:\\TV\\Plugins\\";

}  // namespace zvk::fake
