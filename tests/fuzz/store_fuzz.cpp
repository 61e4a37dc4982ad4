// Fuzz target: the settings store's whole round trip on arbitrary bytes:
// Load a file, switch sections and change values as host and dialog would,
// Save; then load what was saved and save once more. Aborts when an
// invariant breaks; the sanitizers catch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "tests/native/settings_fakes.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/plain_reader.h"

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

// Load gives what the plain definition of the format gives: the dialog's
// position and DEFAULT's values looked up from the start, then one record
// per numeric header in file order, its keys looked up from that header.
void CheckLoad(const std::string& bytes, const SettingsStore& store)
{
    using namespace zvk;
    SettingsText text;
    std::unique_ptr<char[]> copy(new char[bytes.size() + 1]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    text.SetReadText(std::move(copy), bytes.size());
    std::string_view value;
    const int32_t x = plain::FindValue(text, "DIALOG", "DlgWndPosX", value) ? ParseDecimal32(value) : -100;
    const int32_t y = plain::FindValue(text, "DIALOG", "DlgWndPosY", value) ? ParseDecimal32(value) : -100;
    CHECK(store.GetDialogPos().x == x && store.GetDialogPos().y == y);
    const SettingsRecord& d = store.defaults;
    CHECK((plain::ReadValues(text, "DEFAULT") == plain::Values{{d.RGamma, d.GGamma, d.BGamma, d.Binding, d.Enable}}));

    size_t n = 0;
    std::string_view line;
    for (size_t next = 0;;) {
        const size_t start = next;
        text.readPos = start;
        if (!text.ReadLine(line))
            break;
        next = text.readPos;
        line = Trim(line);
        if (line.size() < 2 || line.front() != '[' || line.back() != ']')
            continue;
        const std::string name(line.substr(1, line.size() - 2));
        const int64_t id = ParseDecimal64(name);
        if (id == 0)
            continue;
        text.sectionPos = start;
        const plain::Values v = plain::ReadValues(text, name);
        CHECK(n < store.Records().size());
        const SettingsRecord& r = store.Records()[n++];
        CHECK(r.sectionId == id);
        CHECK((plain::Values{{r.RGamma, r.GGamma, r.BGamma, r.Binding, r.Enable}} == v));
    }
    CHECK(n == store.Records().size());
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
    const bool readFails = (faults & 0x07) == 1 && !original.empty();
    if (readFails)
        system.readableBytes = original.size() / 2;

    SettingsStore store;
    store.UsePlatform(&system, &system);
    store.Load("ZVK_Gamma", Callback);
    CHECK(store.CurrentIndex() == -1);
    if (!readFails)
        CheckLoad(original, store);
    Play(in, store);

    // A save that fails leaves the old bytes and no temporary file; so does
    // a read-only file, and a file that could not be read at Load.
    const int failure = (faults >> 3) & 0x07;
    system.failCreateForWriting = failure == 1;
    // Every saved text holds at least the "DIALOG" section's 40 bytes.
    system.writableBytes = failure == 2 ? original.size() % 40 : SIZE_MAX;
    system.failCommit = failure == 3;
    // Without a replace in one step the file is rewritten in place.
    system.failReplace = failure == 4;
    const int obstacle = faults >> 6;
    const std::string tmp = std::string(kIniPath) + ".tmp";
    if (obstacle == 1)
        system.readOnly.insert(kIniPath);
    if (obstacle >= 2) {
        system.files[tmp] = "stale";
        (obstacle == 2 ? system.readOnly : system.held).insert(tmp);
    }
    const std::vector<SettingsRecord> records = store.Records();
    const SettingsRecord current = store.current;
    const int32_t currentIndex = store.CurrentIndex();
    store.Save();
    CHECK(store.Records() == records && store.current == current && store.CurrentIndex() == currentIndex);
    // No temporary file of this save is left; a stale one is gone, or left
    // as it was when there was nothing to write or it is held.
    const auto stale = system.files.find(tmp);
    CHECK(stale == system.files.end() || (obstacle >= 2 && stale->second == "stale"));
    CHECK(obstacle != 3 || stale != system.files.end());
    if (readFails || obstacle == 1 || (failure >= 1 && failure <= 3)) {
        // In place, with the temporary file held, a disk that refuses data
        // part-way can damage the file (the old text is put back as far as
        // the disk takes it): the one case not checked.
        const bool inPlaceOnAFullDisk = !readFails && obstacle == 3 && failure == 2;
        if (!inPlaceOnAFullDisk)
            CHECK(system.files[kIniPath] == original);
        return 0;
    }
    const int writes = system.createsForWriting;
    store.Save();
    CHECK(system.createsForWriting == writes);

    // What the save wrote (or kept, when nothing changed): the records, the
    // current one with its live values.
    const std::string saved = system.files[kIniPath];
    std::vector<SettingsRecord> expected;
    for (size_t i = 0; i < records.size(); ++i) {
        const SettingsRecord& record = static_cast<int32_t>(i) == currentIndex ? current : records[i];
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
