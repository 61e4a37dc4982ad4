// Fuzz target: the settings store's Load and Save on 256 KB made of the
// input repeated (store_fuzz checks what they give on the input itself).
// Any shape of file whose load costs more than linear time shows as a slow
// input, which the per-input time limit of run.sh turns into a failure: a
// linear load takes a fraction of a second here under the sanitizers, the
// quadratic one it replaces took minutes. The size keeps the seed corpus
// quick to run.
#include <cstdint>
#include <string>

#include "settings/settings_store.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/native/settings_fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kFileSize = 256u << 10;
    if (size == 0)
        return 0;
    std::string file;
    file.reserve(kFileSize + size);
    while (file.size() < kFileSize)
        file.append(reinterpret_cast<const char*>(data), size);

    zvk::fake::System system;
    system.folders.insert(zvk::fake::kPluginsFolder);
    system.files[zvk::fake::kIniPath] = file;
    zvk::SettingsStore store;
    store.UsePlatform(&system, &system);
    store.Load("ZVK_Gamma", nullptr);
    // Every record stands for a header line of at least "[1]" and a line end.
    CHECK(store.Records().size() <= file.size() / 4);
    store.Save();
    CHECK(system.files.size() == 1);
    return 0;
}
