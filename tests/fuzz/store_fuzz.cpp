// Fuzz target: the settings store's whole round trip on arbitrary bytes:
// Load a file, switch sections and change values as host and dialog would,
// Save; then load what was saved and save once more. Aborts when an
// invariant breaks; the sanitizers catch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "tests/native/settings_fakes.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using zvk::SettingsRecord;
using zvk::SettingsStore;
using zvk::fake::kIniPath;

// The host's answers, the same for the same section within one input.
uint64_t gAnswerSeed = 0;

bool HostKnows(int64_t sectionId)
{
    uint64_t x = static_cast<uint64_t>(sectionId) ^ gAnswerSeed;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 32;
    return (x & 3) != 0;
}

int32_t Callback(int64_t sectionId)
{
    return HostKnows(sectionId) ? 1 : 0;
}

bool Written(int64_t sectionId)
{
    return sectionId != 0 && (HostKnows(sectionId) || (sectionId >= 1 && sectionId <= 4));
}

int32_t AnyValue(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return in.ConsumeIntegralInRange<int32_t>(10, 1000);
    case 1:
        return in.ConsumeIntegralInRange<int32_t>(0, 1);
    default:
        return in.ConsumeIntegral<int32_t>();
    }
}

void Play(FuzzedDataProvider& in, SettingsStore& store)
{
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {  // a known section, or one of its neighbours
            const auto& records = store.Records();
            const int64_t id =
                records.empty() ? 1 : records[in.ConsumeIntegralInRange<size_t>(0, records.size() - 1)].sectionId;
            const auto step = static_cast<uint64_t>(in.ConsumeIntegralInRange<int>(-1, 1));
            store.SelectSection(static_cast<int64_t>(static_cast<uint64_t>(id) + step));
            break;
        }
        case 1:
            store.SelectSection(in.ConsumeIntegral<int64_t>());
            break;
        case 2: {
            int32_t* fields[] = {&store.current.RGamma, &store.current.GGamma, &store.current.BGamma,
                                 &store.current.Binding, &store.current.Enable};
            *fields[in.ConsumeIntegralInRange<int>(0, 4)] = AnyValue(in);
            break;
        }
        case 3:
            store.TakeSnapshot();
            break;
        case 4:
            store.RestoreSnapshot();
            break;
        case 5:
            store.ResetToDefaults();
            break;
        case 6:
            store.SetDialogPos(in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>());
            break;
        default:
            store.defaults.RGamma = AnyValue(in);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string original = in.ConsumeRandomLengthString(size);
    gAnswerSeed = in.ConsumeIntegral<uint64_t>();
    const uint8_t faults = in.ConsumeIntegral<uint8_t>();

    zvk::fake::System system;
    system.folders.insert(zvk::fake::kPluginsFolder);
    system.files[kIniPath] = original;
    if ((faults & 0x07) == 1)
        system.readableBytes = original.size() / 2;

    SettingsStore store;
    store.UsePlatform(&system, &system);
    store.Load("ZVK_Gamma", Callback);
    CHECK(store.CurrentIndex() == -1);
    Play(in, store);

    // A save that fails leaves the old bytes and no temporary file.
    const int failure = (faults >> 3) & 0x07;
    system.failCreateForWriting = failure == 1;
    // Every saved text holds at least the "DIALOG" section's 40 bytes.
    system.writableBytes = failure == 2 ? original.size() % 40 : SIZE_MAX;
    system.failCommit = failure == 3;
    system.failReplace = failure == 4;
    store.Save();
    CHECK(system.files.size() == 1);
    if (failure >= 1 && failure <= 4) {
        CHECK(system.files[kIniPath] == original);
        return 0;
    }

    // What the save wrote (or kept, when nothing changed).
    const std::string saved = system.files[kIniPath];
    std::vector<SettingsRecord> expected;
    for (const SettingsRecord& record : store.Records()) {
        if (Written(record.sectionId))
            expected.push_back(record);
    }
    const zvk::DialogPos pos = store.GetDialogPos();

    // Loaded again it gives the same records, and saving right away leaves
    // the bytes as they are without writing.
    zvk::fake::System again;
    again.folders.insert(zvk::fake::kPluginsFolder);
    again.files[kIniPath] = saved;
    SettingsStore reloaded;
    reloaded.UsePlatform(&again, &again);
    reloaded.Load("ZVK_Gamma", Callback);
    CHECK(reloaded.Records() == expected);
    CHECK(reloaded.GetDialogPos().x == pos.x && reloaded.GetDialogPos().y == pos.y);
    reloaded.Save();
    CHECK(again.createsForWriting == 0);
    CHECK(again.files[kIniPath] == saved);
    return 0;
}
