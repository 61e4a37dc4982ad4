// A test fixture with a scratch folder under /tmp, removed with its files
// after each test. For the zvkgamma tests, which work on real files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace zvk {

class ScratchFolder : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zvk_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override
    {
        for (const std::string& name : Entries())
            unlink(Path(name).c_str());
        rmdir(folder_.c_str());
    }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }

    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder_.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
            closedir(dir);
        }
        return names;
    }

    template <typename Container>
    static void Put(const std::string& path, const Container& bytes)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::string folder_;
};

}  // namespace zvk
