// The built ZVK_Gamma.dll as the host sees it: exports, imports, version
// resource and descriptor.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/host_records.h"

namespace {

class PluginDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryA(ZVK_PLUGIN_DLL);
        ASSERT_NE(module_, nullptr) << "cannot load " << ZVK_PLUGIN_DLL << ", error " << GetLastError();
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    template <typename T>
    const T* At(DWORD rva) const
    {
        return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module_) + rva);
    }
    // The headers of this build's own machine: the product's PE32, or the
    // PE32+ of the x86-64 test build.
    const IMAGE_NT_HEADERS* Headers() const
    {
        return At<IMAGE_NT_HEADERS>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    }
    const IMAGE_DATA_DIRECTORY& Directory(int index) const
    {
        return Headers()->OptionalHeader.DataDirectory[index];
    }

    HMODULE module_ = nullptr;
};

TEST_F(PluginDll, IsADllOfTheBuildsMachine)
{
#if defined(_WIN64)
    EXPECT_EQ(Headers()->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(Headers()->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
#else
    EXPECT_EQ(Headers()->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(Headers()->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
#endif
    EXPECT_TRUE(Headers()->FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(PluginDll, ExportsExactlyTwoFunctionsByNameAndOrdinal)
{
    const auto* exports = At<IMAGE_EXPORT_DIRECTORY>(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 2u);
    ASSERT_EQ(exports->NumberOfNames, 2u);
    const auto* names = At<DWORD>(exports->AddressOfNames);
    EXPECT_STREQ(At<char>(names[0]), "Zentavio_Plugin_PR");
    EXPECT_STREQ(At<char>(names[1]), "Zentavio_Plugin_Version");

    const FARPROC pr = GetProcAddress(module_, "Zentavio_Plugin_PR");
    const FARPROC version = GetProcAddress(module_, "Zentavio_Plugin_Version");
    ASSERT_NE(pr, nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(pr, GetProcAddress(module_, MAKEINTRESOURCEA(1)));
    EXPECT_EQ(version, GetProcAddress(module_, MAKEINTRESOURCEA(2)));
    EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(3)), nullptr);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "library function" lines of the list, comments and blank lines skipped.
std::set<std::string> AllowedImports()
{
    std::set<std::string> allowed;
    std::ifstream list(ZVK_XP_IMPORTS);
    for (std::string line; std::getline(list, line);) {
        std::istringstream words(line);
        std::string library, function;
        if (words >> library >> function && library[0] != '#')
            allowed.insert(Lower(library) + " " + function);
    }
    return allowed;
}

// Windows loads a DLL only when every imported function exists: one from a
// later Windows (GetTickCount64 is Vista's) keeps it from loading on XP.
TEST_F(PluginDll, ImportsOnlyWhatWindowsXpHas)
{
#if defined(_WIN64)
    GTEST_SKIP() << "the list is the shipped 32-bit DLL's; the release checks that file on every machine";
#endif
    const std::set<std::string> allowed = AllowedImports();
    ASSERT_GT(allowed.size(), 100u) << "cannot read " << ZVK_XP_IMPORTS;
    const auto* import = At<IMAGE_IMPORT_DESCRIPTOR>(Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    std::vector<std::string> offenders;
    int count = 0;
    for (; import->Name; ++import) {
        const std::string library = Lower(At<char>(import->Name));
        // The names stay in the lookup table; the address table now holds
        // the functions' addresses.
        ASSERT_NE(import->OriginalFirstThunk, 0u) << library;
        for (const auto* thunk = At<IMAGE_THUNK_DATA32>(import->OriginalFirstThunk); thunk->u1.AddressOfData; ++thunk) {
            ++count;
            const std::string name = IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)
                                         ? "#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal))
                                         : std::string(At<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name);
            if (!allowed.count(library + " " + name))
                offenders.push_back(library + " " + name);
        }
    }
    EXPECT_GT(count, 0);
    std::string named;
    for (const std::string& offender : offenders)
        named += "\n  " + offender;
    EXPECT_TRUE(offenders.empty()) << "imports missing from " << ZVK_XP_IMPORTS << ":" << named;
}

TEST_F(PluginDll, HandsOutVersionThreeAndOneStableDescriptor)
{
    using Descriptor = const zvk::PluginDescriptor* (*)();
    using Version = int32_t (*)();
    const auto pr = reinterpret_cast<Descriptor>(reinterpret_cast<void*>(GetProcAddress(module_, "Zentavio_Plugin_PR")));
    const auto version =
        reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(module_, "Zentavio_Plugin_Version")));
    ASSERT_TRUE(pr && version);
    EXPECT_EQ(version(), 3);
    const zvk::PluginDescriptor* d = pr();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, pr());

    const unsigned char title[] = {0xCA, 0xEE, 0xF0, 0xF0, 0xE5, 0xEA, 0xF6, 0xE8, 0xFF, 0x20,
                                   0xE3, 0xE0, 0xEC, 0xEC, 0xFB, 0x20, 0x52, 0x47, 0x42, 0x00};
    EXPECT_EQ(std::memcmp(d->title, title, sizeof title), 0);
    EXPECT_EQ(std::strlen(d->description), sizeof title);
    EXPECT_EQ(std::memcmp(d->description, title, sizeof title - 1), 0);
    EXPECT_EQ(d->description[sizeof title - 1], '.');

    // All six slots point into the plug-in itself.
    const auto base = reinterpret_cast<uintptr_t>(module_);
    const auto end = base + Headers()->OptionalHeader.SizeOfImage;
    const void* slots[] = {reinterpret_cast<void*>(d->init),    reinterpret_cast<void*>(d->setFormat),
                           reinterpret_cast<void*>(d->process), reinterpret_cast<void*>(d->noOp),
                           reinterpret_cast<void*>(d->showDialog), reinterpret_cast<void*>(d->close)};
    for (const void* slot : slots) {
        const auto address = reinterpret_cast<uintptr_t>(slot);
        EXPECT_TRUE(address >= base && address < end) << "slot outside the module";
    }
}

std::string VersionString(const std::vector<char>& info, const char* key)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\041904e3\\") + key;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return "(missing)";
    return value;
}

TEST_F(PluginDll, CarriesItsRussianVersionResource)
{
    const DWORD size = GetFileVersionInfoSizeA(ZVK_PLUGIN_DLL, nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(ZVK_PLUGIN_DLL, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000003u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(translation[0], 1049);
    EXPECT_EQ(translation[1], 1251);

    EXPECT_EQ(VersionString(info, "ProductVersion"), "1.03");
    EXPECT_EQ(VersionString(info, "InternalName"), "ZVK_Gamma");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "ZVK_Gamma.DLL");
    EXPECT_EQ(VersionString(info, "FileDescription"), "ZVK_Gamma DLL");
    EXPECT_EQ(VersionString(info, "ProductName"), "ZVK_Gamma Dynamic Link Library");
}

}  // namespace
