// zvkhost: a stand-in for the video host. Loads a plug-in DLL the way the
// host does and drives its entry points from a script, one command a line.
// Usage: zvkhost.exe PLUGIN [SCRIPT|-] [more arguments for the plug-in...]
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_ui.h"
#include "plugin/host_records.h"

namespace {

using zvk::PluginDescriptor;

// Bytes appended after every frame buffer; a plug-in that writes past the
// frame changes them.
constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuardValue = 0xA5;

struct Known {
    bool all = true;
    std::set<int64_t> ids;
} gKnown;

int32_t __cdecl SectionCallback(int64_t id)
{
    const int32_t answer = gKnown.all || gKnown.ids.count(id) ? 1 : 0;
    std::printf("callback %lld -> %d\n", static_cast<long long>(id), answer);
    return answer;
}

bool ParseInt64(const std::string& text, int64_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = parsed;
    return true;
}

bool ParseInt32(const std::string& text, int32_t& value)
{
    int64_t wide = 0;
    if (!ParseInt64(text, wide) || wide < INT32_MIN || wide > INT32_MAX)
        return false;
    value = static_cast<int32_t>(wide);
    return true;
}

// Words from index first on, each one hex byte.
bool ParseHexBytes(const std::vector<std::string>& words, size_t first, std::vector<uint8_t>& bytes)
{
    for (size_t i = first; i < words.size(); ++i) {
        char* end = nullptr;
        const unsigned long byte = std::strtoul(words[i].c_str(), &end, 16);
        if (*end != '\0' || byte > 255)
            return false;
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size, bool append)
{
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

std::string Hex(const uint8_t* data, size_t size)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        text += byte;
    }
    return text;
}

class Host {
public:
    Host(HMODULE module, const PluginDescriptor* descriptor) : module_(module), d_(descriptor) {}

    // Runs one script line; false (with a message) for a bad line.
    bool Run(const std::vector<std::string>& words, std::string& error);

private:
    bool Frame(const std::vector<std::string>& words, bool allFrames, std::string& error);
    bool CallProcess(int64_t section, uint8_t* pixels, bool withSection);
    size_t FrameBytes() const;

    HMODULE module_;
    const PluginDescriptor* d_;
    zvk::FrameFormat format_ = {};
};

size_t Host::FrameBytes() const
{
    const size_t pixels = static_cast<size_t>(format_.width) * static_cast<size_t>(format_.height);
    if (format_.width <= 0 || format_.height <= 0)
        return 0;
    return pixels * (format_.colourFormat == zvk::kYuv422 ? 2 : 3);
}

bool Host::CallProcess(int64_t section, uint8_t* pixels, bool withSection)
{
    alignas(4) uint8_t record[sizeof(zvk::SectionInfo) + 32] = {};
    auto* info = reinterpret_cast<zvk::SectionInfo*>(record);
    info->idLow = static_cast<int32_t>(static_cast<uint64_t>(section) & 0xFFFFFFFFu);
    info->idHigh = static_cast<int32_t>(static_cast<uint64_t>(section) >> 32);
    std::snprintf(info->name, 32, "section %lld", static_cast<long long>(section));
    zvk::FrameParams params = {};
    params.pixels = pixels;
    params.section = withSection ? info : nullptr;
    return d_->process(&params);
}

bool Host::Frame(const std::vector<std::string>& words, bool allFrames, std::string& error)
{
    int64_t section = 0;
    const bool withSection = words[1] != "none";
    if (words.size() != 4 || (withSection && !ParseInt64(words[1], section))) {
        error = "usage: " + words[0] + " SECTION|none IN OUT";
        return false;
    }
    std::vector<uint8_t> input;
    if (!ReadFileBytes(words[2], input)) {
        error = "cannot read " + words[2];
        return false;
    }
    size_t frameBytes = FrameBytes();
    const bool knownFormat = format_.colourFormat == zvk::kYuv422 || format_.colourFormat == zvk::kBgr24;
    if (!knownFormat || frameBytes == 0) {
        // No frame size to go by: one frame is the whole file.
        if (allFrames) {
            error = "frames needs a positive size and colour format 0 or 1";
            return false;
        }
        frameBytes = input.size();
    }
    if (frameBytes == 0 || input.size() < frameBytes) {
        error = "input holds " + std::to_string(input.size()) + " bytes, a frame needs " +
                std::to_string(frameBytes);
        return false;
    }
    const size_t frames = allFrames ? input.size() / frameBytes : 1;
    size_t changedInAll = 0;
    std::vector<uint8_t> buffer(frameBytes + kGuardBytes);
    std::ofstream(words[3], std::ios::binary | std::ios::trunc);
    for (size_t n = 0; n < frames; ++n) {
        std::memcpy(buffer.data(), input.data() + n * frameBytes, frameBytes);
        std::memset(buffer.data() + frameBytes, kGuardValue, kGuardBytes);
        const int32_t result = CallProcess(section, buffer.data(), withSection);
        size_t changed = 0;
        for (size_t i = 0; i < frameBytes; ++i)
            changed += buffer[i] != input[n * frameBytes + i];
        for (size_t i = 0; i < kGuardBytes; ++i) {
            if (buffer[frameBytes + i] != kGuardValue) {
                error = "the plug-in wrote past the end of the frame";
                return false;
            }
        }
        changedInAll += changed;
        if (!WriteFileBytes(words[3], buffer.data(), frameBytes, true)) {
            error = "cannot write " + words[3];
            return false;
        }
        if (!allFrames)
            std::printf("process %s -> %d, %zu of %zu bytes changed\n", words[1].c_str(), result, changed,
                        frameBytes);
        else if (n + 1 == frames && input.size() % frameBytes)
            std::printf("process %s -> %d for %zu frames, %zu of %zu bytes changed, %zu trailing bytes left out\n",
                        words[1].c_str(), result, frames, changedInAll, frames * frameBytes,
                        input.size() % frameBytes);
        else if (n + 1 == frames)
            std::printf("process %s -> %d for %zu frames, %zu of %zu bytes changed\n", words[1].c_str(), result,
                        frames, changedInAll, frames * frameBytes);
    }
    return true;
}

// --- Settings-file commands: folders, a file's text and its last-write time,
// with %VARIABLES% in the path expanded (%APPDATA% is the user's folder).
//   mkdir DIR        makes one folder (an existing one is fine)
//   exists PATH      prints whether a file or folder is there
//   cat FILE         prints the text, line ends shown as <CR> and <LF>
//   settime FILE     sets the last-write time to 2001-01-01 00:00 UTC
//   filetime FILE    prints the last-write date
bool IsFileCommand(const std::string& command)
{
    return command == "mkdir" || command == "exists" || command == "cat" || command == "settime" ||
           command == "filetime";
}

std::string Expand(const std::string& path)
{
    char expanded[MAX_PATH * 2] = {};
    const DWORD length = ExpandEnvironmentStringsA(path.c_str(), expanded, sizeof expanded);
    return length > 0 && length <= sizeof expanded ? std::string(expanded) : path;
}

bool FileCommand(const std::vector<std::string>& words, std::string& error)
{
    const std::string& command = words[0];
    if (words.size() != 2) {
        error = "usage: " + command + " PATH";
        return false;
    }
    const std::string& shown = words[1];
    const std::string path = Expand(shown);
    if (command == "mkdir") {
        if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = "cannot make " + shown;
            return false;
        }
    } else if (command == "exists") {
        std::printf("%s %s\n", shown.c_str(), GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? "exists" : "is missing");
    } else if (command == "cat") {
        std::vector<uint8_t> bytes;
        if (!ReadFileBytes(path, bytes)) {
            error = "cannot read " + shown;
            return false;
        }
        std::string text;
        char byte[8];
        for (const uint8_t b : bytes) {
            if (b == '\r') {
                text += "<CR>";
            } else if (b == '\n') {
                text += "<LF>\n";
            } else if (b < 0x20 || b >= 0x7F) {
                std::snprintf(byte, sizeof byte, "<%02X>", b);
                text += byte;
            } else {
                text += static_cast<char>(b);
            }
        }
        std::printf("%s: %zu bytes\n%s%s", shown.c_str(), bytes.size(), text.c_str(),
                    text.empty() || text.back() == '\n' ? "" : "<no line end>\n");
    } else {
        const HANDLE file = CreateFileA(path.c_str(), command == "settime" ? FILE_WRITE_ATTRIBUTES : GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = "cannot open " + shown;
            return false;
        }
        FILETIME time = {};
        SYSTEMTIME date = {2001, 1, 1, 1, 0, 0, 0, 0};
        bool done = false;
        if (command == "settime") {
            done = SystemTimeToFileTime(&date, &time) && SetFileTime(file, nullptr, nullptr, &time);
        } else if (GetFileTime(file, nullptr, nullptr, &time) && FileTimeToSystemTime(&time, &date)) {
            std::printf("%s last written %04u-%02u-%02u\n", shown.c_str(), date.wYear, date.wMonth, date.wDay);
            done = true;
        }
        CloseHandle(file);
        if (!done) {
            error = command + " failed for " + shown;
            return false;
        }
    }
    return true;
}
// --- end of the settings-file commands

// --- Holding a file the way another program would (a virus scanner, an
// editor): open, shared with no one, until released.
//   hold FILE        opens FILE (made if missing) and keeps it open
//   release FILE     closes it
std::vector<std::pair<std::string, HANDLE>> gHeldFiles;

bool HoldCommand(const std::vector<std::string>& words, std::string& error)
{
    if (words.size() != 2) {
        error = "usage: " + words[0] + " FILE";
        return false;
    }
    const std::string path = Expand(words[1]);
    for (auto held = gHeldFiles.begin(); held != gHeldFiles.end(); ++held) {
        if (held->first == path) {
            if (words[0] == "hold")
                break;
            CloseHandle(held->second);
            gHeldFiles.erase(held);
            return true;
        }
    }
    if (words[0] == "release") {
        error = words[1] + " is not held";
        return false;
    }
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot hold " + words[1];
        return false;
    }
    gHeldFiles.emplace_back(path, file);
    return true;
}
// --- end of the file-holding commands

bool Host::Run(const std::vector<std::string>& words, std::string& error)
{
    const std::string& command = words[0];
    const size_t args = words.size() - 1;
    auto usage = [&](const char* text) {
        error = std::string("usage: ") + text;
        return false;
    };

    if (command == "init") {
        if (args != 0)
            return usage("init");
        static zvk::InitParams params = {};
        params.sectionCallback = SectionCallback;
        d_->init(&params);
        std::printf("init\n");
    } else if (command == "known") {
        if (args == 0)
            return usage("known all|none|ID...");
        gKnown.all = args == 1 && words[1] == "all";
        gKnown.ids.clear();
        if (!gKnown.all && !(args == 1 && words[1] == "none")) {
            for (size_t i = 1; i <= args; ++i) {
                int64_t id = 0;
                if (!ParseInt64(words[i], id))
                    return usage("known all|none|ID...");
                gKnown.ids.insert(id);
            }
        }
    } else if (command == "format") {
        zvk::FrameFormat f = {};
        if (args != 4 || !ParseInt32(words[1], f.width) || !ParseInt32(words[2], f.height) ||
            !ParseInt32(words[3], f.colourFormat) || !ParseInt32(words[4], f.yuvVariant))
            return usage("format W H COLOURFORMAT VARIANT");
        format_ = f;
        std::printf("format %d x %d, colour %d, variant %d -> %d\n", f.width, f.height, f.colourFormat,
                    f.yuvVariant, d_->setFormat(&f));
    } else if (command == "frame" || command == "frames") {
        if (args != 3)
            return usage((command + " SECTION|none IN OUT").c_str());
        return Frame(words, command == "frames", error);
    } else if (command == "nullframe") {
        int64_t section = 0;
        if (args != 1 || !ParseInt64(words[1], section))
            return usage("nullframe SECTION");
        std::printf("process %s without pixels -> %d\n", words[1].c_str(), CallProcess(section, nullptr, true));
    } else if (command == "descriptor") {
        if (args != 0)
            return usage("descriptor");
        const auto* title = reinterpret_cast<const uint8_t*>(d_->title);
        const auto* description = reinterpret_cast<const uint8_t*>(d_->description);
        std::printf("title %s\n", Hex(title, std::strlen(d_->title) + 1).c_str());
        std::printf("description %s\n", Hex(description, std::strlen(d_->description) + 1).c_str());
        std::printf("slots init=%d setformat=%d process=%d noop=%d showdialog=%d close=%d\n", d_->init != nullptr,
                    d_->setFormat != nullptr, d_->process != nullptr, d_->noOp != nullptr,
                    d_->showDialog != nullptr, d_->close != nullptr);
    } else if (command == "noop") {
        d_->noOp();
        std::printf("noop\n");
    } else if (command == "close") {
        d_->close();
        std::printf("close\n");
    } else if (command == "write") {
        // write FILE HEXBYTES...: makes a small input file.
        if (args < 1)
            return usage("write FILE [HEXBYTE...]");
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(words, 2, bytes))
            return usage("write FILE [HEXBYTE...]");
        if (!WriteFileBytes(words[1], bytes.data(), bytes.size(), false)) {
            error = "cannot write " + words[1];
            return false;
        }
    } else if (command == "fill") {
        // fill FILE COUNT HEXBYTE...: the pattern COUNT times over.
        int32_t count = 0;
        std::vector<uint8_t> pattern;
        if (args < 3 || !ParseInt32(words[2], count) || count < 0 || !ParseHexBytes(words, 3, pattern))
            return usage("fill FILE COUNT HEXBYTE...");
        std::vector<uint8_t> bytes;
        bytes.reserve(pattern.size() * static_cast<size_t>(count));
        for (int32_t n = 0; n < count; ++n)
            bytes.insert(bytes.end(), pattern.begin(), pattern.end());
        if (!WriteFileBytes(words[1], bytes.data(), bytes.size(), false)) {
            error = "cannot write " + words[1];
            return false;
        }
    } else if (command == "bytes") {
        // bytes FILE [OFFSET COUNT]: prints a file's bytes in hex.
        std::vector<uint8_t> bytes;
        int32_t offset = 0, count = 0;
        if ((args != 1 && args != 3) || (args == 3 && (!ParseInt32(words[2], offset) || !ParseInt32(words[3], count))))
            return usage("bytes FILE [OFFSET COUNT]");
        if (!ReadFileBytes(words[1], bytes)) {
            error = "cannot read " + words[1];
            return false;
        }
        if (args == 1)
            count = static_cast<int32_t>(bytes.size());
        if (offset < 0 || count < 0 || static_cast<size_t>(offset) + count > bytes.size()) {
            error = words[1] + " holds only " + std::to_string(bytes.size()) + " bytes";
            return false;
        }
        std::printf("%s\n", Hex(bytes.data() + offset, static_cast<size_t>(count)).c_str());
    } else if (command == "echo") {
        std::string text;
        for (size_t i = 1; i <= args; ++i)
            text += (i > 1 ? " " : "") + words[i];
        std::printf("%s\n", text.c_str());
    } else if (IsFileCommand(command)) {
        return FileCommand(words, error);
    } else if (command == "hold" || command == "release") {
        return HoldCommand(words, error);
    } else {
        error = "unknown command '" + command + "'";
        return false;
    }
    (void)module_;
    return true;
}

std::vector<std::string> Split(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Loads the plug-in as the host does; null (with a message) on any mismatch.
const PluginDescriptor* LoadPlugin(const char* path, HMODULE& module)
{
    module = LoadLibraryA(path);
    if (!module) {
        std::fprintf(stderr, "zvkhost: cannot load %s (error %lu)\n", path, GetLastError());
        return nullptr;
    }
    using Descriptor = const PluginDescriptor* (*)();
    using Version = int32_t (*)();
    const FARPROC pr = GetProcAddress(module, "Zentavio_Plugin_PR");
    const FARPROC version = GetProcAddress(module, "Zentavio_Plugin_Version");
    if (!pr || !version) {
        std::fprintf(stderr, "zvkhost: %s lacks the plug-in exports\n", path);
        return nullptr;
    }
    if (pr != GetProcAddress(module, MAKEINTRESOURCEA(1)) || version != GetProcAddress(module, MAKEINTRESOURCEA(2))) {
        std::fprintf(stderr, "zvkhost: the exports are not at ordinals 1 and 2\n");
        return nullptr;
    }
    const int32_t interfaceVersion = reinterpret_cast<Version>(reinterpret_cast<void*>(version))();
    const PluginDescriptor* descriptor = reinterpret_cast<Descriptor>(reinterpret_cast<void*>(pr))();
    if (!descriptor || descriptor != reinterpret_cast<Descriptor>(reinterpret_cast<void*>(pr))()) {
        std::fprintf(stderr, "zvkhost: the descriptor pointer is null or not stable\n");
        return nullptr;
    }
    std::printf("loaded, interface version %d\n", interfaceVersion);
    if (interfaceVersion != zvk::kHostInterfaceVersion) {
        std::fprintf(stderr, "zvkhost: interface version %d, expected %d\n", interfaceVersion,
                     zvk::kHostInterfaceVersion);
        return nullptr;
    }
    return descriptor;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zvkhost PLUGIN [SCRIPT|-] [more arguments...]\n");
        return 2;
    }
    // Results and the plug-in's callback lines interleave in order.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    HMODULE module = nullptr;
    const PluginDescriptor* descriptor = LoadPlugin(argv[1], module);
    if (!descriptor)
        return 1;

    std::ifstream file;
    const bool fromStdin = argc < 3 || std::strcmp(argv[2], "-") == 0;
    if (!fromStdin) {
        file.open(argv[2]);
        if (!file) {
            std::fprintf(stderr, "zvkhost: cannot read script %s\n", argv[2]);
            return 2;
        }
    }
    std::istream& script = fromStdin ? std::cin : file;

    if (!zvkhost::StartUi(descriptor)) {
        std::fprintf(stderr, "zvkhost: cannot start the UI thread\n");
        return 1;
    }
    Host host(module, descriptor);
    int errors = 0;
    int number = 0;
    for (std::string line; std::getline(script, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> words = Split(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        std::string error;
        // Window commands wait and type on this thread; everything else, the
        // plug-in's entry points above all, runs on the UI thread.
        bool done = false;
        if (zvkhost::IsWindowCommand(words[0]))
            done = zvkhost::WindowCommand(words, error);
        else
            zvkhost::OnUi([&] { done = host.Run(words, error); });
        if (!done) {
            std::printf("error: line %d: %s\n", number, error.c_str());
            ++errors;
        }
    }
    zvkhost::StopUi();
    return errors ? 1 : 0;
}
