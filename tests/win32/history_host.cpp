// A host that plays random histories of host calls against the DLL: from a
// seed, a list of rounds, each giving up to four threads one operation that
// they start together (two frame threads F1 and F2, the host's UI thread U,
// a control thread C). Every history runs in a child process of its own, so
// a crash, a hang or an exit ends only that history.
//
//   F1, F2  frames SECTION N, fmt W H COLOUR VARIANT (SetFormat), close
//   U       show, slide POSITION N (slider moves), ok, cancel, closebox
//   C       init, close, unload (FreeLibrary), load (LoadLibrary),
//           suspend MS (the UI thread), kill F1|F2 MS (TerminateThread),
//           sleep MS, exit MS (ExitProcess; a DLL of the host's calls Close
//           from its DllMain at exit)
//
// Checks: every round ends within a bound (the call that did not return is
// named), a frame-path call (Process, SetFormat) within a tighter one; no
// access violation (guest_host.h's handler); every frame is corrected by one
// whole set of tables (see CheckFrame); the library leaves after FreeLibrary
// once Close ended what it runs; the settings file is well-formed, holds
// every section the session surely entered (those the host still knows) and
// no section it never used.
//
// With W=build/win64 (the test's prefix, windows shown unmanaged: see
// tests/win32/CMakeLists.txt) and
// H="env WINEPREFIX=$PWD/$W/wineprefix-history ZVK_UNMANAGED_WINDOWS=1 xvfb-run -a
//    $W/wine-run $W/tests/win32/zvk_history_host.exe $W/plugin/ZVK_Gamma.dll":
//   $H sample              the fixed sample the test command runs
//   $H seeds FIRST COUNT   a long run, e.g. seeds 1000 3000
//   $H seed N              one seed;  $H print N  its history
//   $H replay "HISTORY"    a history as a failure printed it
// ZVK_HISTORY_TRACE=1 prints each round's time.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/slider_scale.h"
#include "gamma/kernels.h"
#include "tests/win32/guest_host.h"

namespace zvk {
namespace {

enum Role { kF1, kF2, kUi, kControl, kRoles };
const char* const kRoleNames[kRoles] = {"F1", "F2", "U", "C"};

constexpr DWORD kRoundBoundMs = 15000;    // any call: a hang
constexpr DWORD kFramePathBoundMs = 1500;  // Process, SetFormat: they must not wait
constexpr DWORD kSlowCallbackMs = 2500;    // above the frame-path bound
constexpr DWORD kHistoryBoundMs = 120000;
constexpr DWORD kExitBoundMs = 10000;      // from ExitProcess to the process's end
constexpr int kMaxWidth = 4096, kMaxHeight = 2304;
constexpr size_t kBufferBytes = size_t{kMaxWidth} * kMaxHeight * 3 + 64;

struct Op {
    std::string name;  // empty: nothing this round
    int64_t a = 0, b = 0, c = 0, d = 0;
};
struct Round {
    Op op[kRoles];
};
struct History {
    std::vector<std::pair<int64_t, int>> file;  // the settings file at the start: section, slider position
    int64_t forget = -1;       // the host's callback no longer knows this section
    int64_t slow = -1;         // the callback takes kSlowCallbackMs over this one
    bool lockedCallback = false;  // the callback takes the lock the host holds around SetFormat
    std::vector<Round> rounds;
};

int Arity(const std::string& name)
{
    if (name == "fmt")
        return 4;
    if (name == "frames" || name == "slide" || name == "kill")
        return 2;
    if (name == "suspend" || name == "sleep" || name == "exit")
        return 1;
    return 0;
}

// One line: header, then rounds after '|', ops after ';'. Replays as it reads.
std::string Print(const History& h)
{
    std::ostringstream out;
    out << "file=";
    for (size_t i = 0; i < h.file.size(); ++i)
        out << (i ? "," : "") << h.file[i].first << ":" << h.file[i].second;
    out << " forget=" << h.forget << " slow=" << h.slow << " lockcb=" << h.lockedCallback;
    for (const Round& round : h.rounds) {
        out << " |";
        bool first = true;
        for (int r = 0; r < kRoles; ++r) {
            const Op& op = round.op[r];
            if (op.name.empty())
                continue;
            out << (first ? " " : " ; ") << kRoleNames[r] << " " << op.name;
            const int64_t args[] = {op.a, op.b, op.c, op.d};
            for (int i = 0; i < Arity(op.name); ++i) {
                if (op.name == "kill" && i == 0)
                    out << " " << kRoleNames[args[0]];
                else
                    out << " " << args[i];
            }
            first = false;
        }
    }
    return out.str();
}

bool Parse(const std::string& text, History& h)
{
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t bar = text.find('|', start);
        parts.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    std::istringstream header(parts[0]);
    std::string file;
    for (std::string token; header >> token;) {
        const size_t eq = token.find('=');
        const std::string key = token.substr(0, eq), value = eq == std::string::npos ? "" : token.substr(eq + 1);
        if (key == "file")
            file = value;
        else if (key == "forget")
            h.forget = std::stoll(value);
        else if (key == "slow")
            h.slow = std::stoll(value);
        else if (key == "lockcb")
            h.lockedCallback = value == "1";
        else
            return false;
    }
    for (const char* p = file.c_str(); *p;) {
        long long section = 0;
        int position = 0, used = 0;
        if (std::sscanf(p, "%lld:%d%n", &section, &position, &used) != 2)
            return false;
        h.file.emplace_back(section, position);
        p += used + (p[used] == ',');
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        Round round;
        std::istringstream ops(parts[i]);
        for (std::string role; ops >> role;) {
            if (role == ";")
                continue;
            const int r = static_cast<int>(std::find(kRoleNames, kRoleNames + kRoles, role) - kRoleNames);
            if (r == kRoles)
                return false;
            Op& op = round.op[r];
            ops >> op.name;
            int64_t* args[] = {&op.a, &op.b, &op.c, &op.d};
            for (int k = 0; k < Arity(op.name); ++k) {
                std::string arg;
                ops >> arg;
                // kill names its victim by role
                const auto named = std::find(kRoleNames, kRoleNames + kRoles, arg);
                *args[k] = named != kRoleNames + kRoles ? named - kRoleNames : std::stoll(arg);
            }
        }
        h.rounds.push_back(round);
    }
    return true;
}

// --- generation ------------------------------------------------------------

class Random {
public:
    explicit Random(uint64_t seed) : engine_(seed) {}
    int Below(int n) { return static_cast<int>(engine_() % static_cast<uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    // An index into weights, drawn in proportion to them.
    int Weighted(std::initializer_list<int> weights)
    {
        int total = 0;
        for (const int w : weights)
            total += w;
        int pick = Below(total), i = 0;
        for (const int w : weights) {
            if (pick < w)
                return i;
            pick -= w;
            ++i;
        }
        return 0;
    }

private:
    std::mt19937_64 engine_;
};

// Host sections: 0 (never written), 1 to 4 (always kept), others, one
// needing the high word.
const int64_t kSections[] = {0, 1, 3, 7, 8, 9, 12, 0x100000007LL};

Op FrameOp(Random& r, const std::vector<int64_t>& sections, int framesWeight, int closeWeight)
{
    switch (r.Weighted({framesWeight, 15, closeWeight, 100 - framesWeight - 15 - closeWeight})) {
    case 0:
        return {"frames", sections[static_cast<size_t>(r.Below(static_cast<int>(sections.size())))], 1 + r.Below(12)};
    case 1: {
        static const int kSizes[][2] = {{0, 480},     {1, 1},       {2, 1},       {64, 16},     {720, 576},
                                        {1920, 1080}, {1921, 1079}, {3840, 2160}, {4096, 2304}, {3839, 2161}};
        int w, h;
        if (r.Chance(80)) {
            // most of them big enough to be cut
            const int i = r.Chance(50) ? 7 + r.Below(3) : r.Below(7);
            w = kSizes[i][0];
            h = kSizes[i][1];
        } else {
            w = 1 + r.Below(kMaxWidth);
            h = 1 + r.Below(kMaxHeight);
        }
        const int colour = r.Weighted({45, 45, 10}) == 2 ? 5 : r.Below(2);
        return {"fmt", w, h, colour, colour == 0 && r.Chance(50) ? kYuvVariantAveraged : 0};
    }
    case 2:
        return {"close"};
    default:
        return {};
    }
}

Op UiOp(Random& r, bool entryPoints, int slideWeight)
{
    switch (r.Weighted({entryPoints ? 12 : 0, slideWeight, 6, 6, 5, 40})) {
    case 0:
        return {"show"};
    case 1:
        return {"slide", r.Below(kSliderMax + 1), 1 + r.Below(20)};
    case 2:
        return {"ok"};
    case 3:
        return {"cancel"};
    case 4:
        return {"closebox"};
    default:
        return {};
    }
}

// The round's ops for the library's state; exit ends the history.
Round MakeRound(Random& r, const std::vector<int64_t>& sections, bool& loaded, bool first, bool exit)
{
    Round round;
    Op& c = round.op[kControl];
    if (exit)
        c = {"exit", 5 + r.Below(80)};
    else if (!loaded)
        c = r.Chance(70) ? Op{"load"} : Op{"sleep", r.Below(50)};
    else if (first && r.Chance(80))
        c = {"init"};
    else {
        switch (r.Weighted({12, 12, 5, 6, 12, 8, 45})) {
        case 0: c = {"init"}; break;
        case 1: c = {"close"}; break;
        case 2: c = {"unload"}; break;
        case 3: c = {"suspend", 50 + r.Below(950)}; break;
        case 4: c = {"kill", 0, r.Below(25)}; break;
        case 5: c = {"sleep", r.Below(50)}; break;
        default: break;
        }
    }
    // No entry point beside FreeLibrary or while unloaded: the window's own
    // messages still go on.
    const bool entryPoints = loaded && c.name != "unload";
    // An exit comes mostly while frames run and the window draws.
    if (entryPoints) {
        round.op[kF1] = FrameOp(r, sections, exit ? 75 : 55, 4);
        round.op[kF2] = FrameOp(r, sections, 35, 10);
    }
    round.op[kUi] = UiOp(r, entryPoints, exit ? 50 : 30);
    if (c.name == "kill") {
        // a frame thread that runs frames now, most likely inside one
        const bool f1 = round.op[kF1].name == "frames", f2 = round.op[kF2].name == "frames";
        if (f1 || f2)
            c.a = f1 && (!f2 || r.Chance(50)) ? kF1 : kF2;
        else
            c = {"sleep", r.Below(50)};
    }
    if (c.name == "unload")
        loaded = false;
    if (c.name == "load")
        loaded = true;
    return round;
}

History Generate(uint64_t seed)
{
    Random r(seed);
    History h;
    std::vector<int64_t> sections;
    for (const int64_t s : kSections)
        if (r.Chance(50))
            sections.push_back(s);
    if (sections.empty())
        sections.push_back(7);
    if (r.Chance(40))
        for (const int64_t s : kSections)
            if (s != 0 && r.Chance(30))
                h.file.emplace_back(s, r.Below(kSliderMax + 1));
    if (r.Chance(40))
        h.forget = sections[static_cast<size_t>(r.Below(static_cast<int>(sections.size())))];
    if (r.Chance(8))
        h.slow = sections[static_cast<size_t>(r.Below(static_cast<int>(sections.size())))];
    h.lockedCallback = r.Chance(15);
    const int rounds = 6 + r.Below(18);
    const bool exit = r.Chance(15);
    bool loaded = true;
    for (int i = 0; i < rounds; ++i)
        h.rounds.push_back(MakeRound(r, sections, loaded, i == 0, exit && i == rounds - 1));
    return h;
}

// --- what a correct result looks like ----------------------------------------

// A frame is one 12-byte pattern repeated (three YUY2 words, four BGR
// pixels). Every kernel maps equal bytes at equal phase alike, so a frame
// corrected by one set of tables is again one block repeated up to the end
// of its format; parts corrected by different sets, or left out, break it.
const std::array<uint8_t, 12> kPattern = {140, 90, 150, 170, 60, 200, 70, 40, 200, 128, 210, 128};
using Block = std::array<uint8_t, 12>;

// What a format makes of a frame: the bytes corrected and by which kernel.
struct Plan {
    size_t bytes = 0;
    int kernel = 0;  // 0 YUY2 first pixel, 1 YUY2 averaged, 2 BGR24
    bool operator<(const Plan& o) const { return bytes != o.bytes ? bytes < o.bytes : kernel < o.kernel; }
};

Plan PlanOf(const Op& fmt)
{
    const int64_t w = fmt.a, h = fmt.b, colour = fmt.c;
    if (w <= 0 || h <= 0 || (colour != kYuv422 && colour != kBgr24))
        return {};
    const uint32_t pixels = static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    if (colour == kBgr24)
        return {size_t{pixels} * 3, 2};
    return {size_t{pixels / 2} * 4, fmt.d == kYuvVariantAveraged ? 1 : 0};
}

// Every block a valid correction makes of the pattern: the slider's gammas
// (and 1.00) on all three channels, as the linked sliders set them.
std::set<Block> gValid[3];

void MakeValidBlocks()
{
    std::set<int32_t> gammas = {kIdentityGamma};
    for (int p = kSliderMin; p <= kSliderMax; ++p)
        gammas.insert(PositionToGamma(p));
    const Kernels& k = PortableKernels();
    static TableSet tables;
    for (const int32_t g : gammas) {
        for (int c = kRed; c <= kBlue; ++c)
            BuildChannel(tables, c, g);
        Block b[3] = {kPattern, kPattern, kPattern};
        k.yuvFirstPixel(b[0].data(), 6, tables.yuvDelta);
        k.yuvAveraged(b[1].data(), 6, tables.yuvDelta);
        k.rgb24(b[2].data(), 4, tables.lut);
        for (int i = 0; i < 3; ++i)
            gValid[i].insert(b[i]);
    }
    for (auto& valid : gValid)
        valid.insert(kPattern);  // left as it is, or corrected at 1.00
}

// A frame shorter than a block matches the start of one.
bool IsValid(int kernel, const Block& first, size_t bytes)
{
    if (bytes >= 12)
        return gValid[kernel].count(first) != 0;
    for (const Block& valid : gValid[kernel])
        if (std::equal(first.begin(), first.begin() + static_cast<long>(bytes), valid.begin()))
            return true;
    return false;
}

// Bytes [from, to) repeat with period 12 (compared with themselves 12 on).
bool Periodic(const uint8_t* p, size_t from, size_t to)
{
    return to <= from + 12 || std::memcmp(p + from, p + from + 12, to - from - 12) == 0;
}

// The frame is a whole correction under one of the plans (the format may
// change during a round), or untouched.
bool FrameIsWhole(const uint8_t* p, size_t filled, const std::vector<Plan>& plans, std::string& why)
{
    for (const Plan& plan : plans) {
        const size_t end = std::min(plan.bytes, filled);
        Block first = kPattern;
        std::memcpy(first.data(), p, std::min<size_t>(end, 12));
        bool tailOk = Periodic(p, end, filled);
        for (size_t i = end; tailOk && i < std::min(filled, end + 12); ++i)
            tailOk = p[i] == kPattern[i % 12];
        if (tailOk && Periodic(p, 0, end) && IsValid(plan.kernel, first, end))
            return true;
    }
    char text[200];
    std::snprintf(text, sizeof text, "frame not one whole correction: first bytes %u %u %u %u %u %u, %zu bytes filled",
                  p[0], p[1], p[2], p[3], p[4], p[5], filled);
    why = text;
    return false;
}

void Fill(uint8_t* p, size_t bytes)
{
    std::memcpy(p, kPattern.data(), 12);
    for (size_t done = 12; done < bytes; done *= 2)
        std::memcpy(p + done, p, std::min(done, bytes - done));
}

// --- the settings file -----------------------------------------------------

std::string IniText(const std::vector<std::pair<int64_t, int>>& sections)
{
    std::string text = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n";
    for (const auto& [section, position] : sections) {
        const std::string g = std::to_string(PositionToGamma(position));
        text += "[" + std::to_string(section) + "]\r\nRGamma=" + g + "\r\nGGamma=" + g + "\r\nBGamma=" + g +
                "\r\nBinding=1\r\nEnable=1\r\n";
    }
    return text;
}

// The file as the plug-in writes it, or empty: [DIALOG] with its two keys, then each
// section once with its five keys in order, linked gammas of the slider.
bool ParseIni(const std::string& text, std::set<int64_t>& sections, std::string& why)
{
    // What Init leaves where there was no file (it opens it with
    // OPEN_ALWAYS) and no save came after.
    if (text.empty())
        return true;
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            why = "a line without CR LF";
            return false;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    long long x = 0, y = 0;
    if (lines.size() < 3 || lines[0] != "[DIALOG]" || std::sscanf(lines[1].c_str(), "DlgWndPosX=%lld", &x) != 1 ||
        std::sscanf(lines[2].c_str(), "DlgWndPosY=%lld", &y) != 1 || (lines.size() - 3) % 6 != 0) {
        why = "no [DIALOG] section with its position first, or a section of the wrong length";
        return false;
    }
    static const std::set<int32_t> gammas = [] {
        std::set<int32_t> all = {kIdentityGamma};
        for (int p = kSliderMin; p <= kSliderMax; ++p)
            all.insert(PositionToGamma(p));
        return all;
    }();
    for (size_t i = 3; i < lines.size(); i += 6) {
        long long id = 0;
        int r = 0, g = 0, b = 0, binding = 0, enable = 0;
        char close = 0;
        if (std::sscanf(lines[i].c_str(), "[%lld%c", &id, &close) != 2 || close != ']' ||
            std::sscanf(lines[i + 1].c_str(), "RGamma=%d", &r) != 1 ||
            std::sscanf(lines[i + 2].c_str(), "GGamma=%d", &g) != 1 ||
            std::sscanf(lines[i + 3].c_str(), "BGamma=%d", &b) != 1 ||
            std::sscanf(lines[i + 4].c_str(), "Binding=%d", &binding) != 1 ||
            std::sscanf(lines[i + 5].c_str(), "Enable=%d", &enable) != 1) {
            why = "section at line " + std::to_string(i + 1) + " is not a whole record";
            return false;
        }
        if (r != g || g != b || !gammas.count(r) || binding != 1 || enable != 1) {
            why = "section " + std::to_string(id) + " holds values no history sets";
            return false;
        }
        if (id == 0 || !sections.insert(id).second) {
            why = "section " + std::to_string(id) + " written twice or as 0";
            return false;
        }
    }
    return true;
}

std::string ReadFileText(const std::string& path, bool& exists)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    exists = file != INVALID_HANDLE_VALUE;
    std::string text;
    if (!exists)
        return text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

std::string Names(const std::set<int64_t>& sections)
{
    std::string text;
    for (const int64_t s : sections)
        text += (text.empty() ? "" : ",") + std::to_string(s);
    return "{" + text + "}";
}

// --- the player (the child process) -----------------------------------------

struct Worker {
    HANDLE thread = nullptr;
    HANDLE start = nullptr, done = nullptr;
    Op op;
    std::vector<Plan> plans;  // what formats a frame may have this round
    uint8_t* buffer = nullptr;
    bool failed = false;
    std::string failure;  // set once, by the worker, before it reports done
};

struct Player {
    History history;
    std::string dll, name, ini;
    Guest guest{""};
    UiThread* ui = nullptr;
    HMODULE helper = nullptr;
    void(__cdecl* closeAtExit)(CloseEntry) = nullptr;
    HANDLE exitSignal = nullptr;
    CRITICAL_SECTION formatLock;  // the host's, held around SetFormat
    Worker workers[kRoles];
    size_t round = 0;
};
Player gPlayer;

int32_t SectionCallback(int64_t section)
{
    if (gPlayer.history.lockedCallback) {
        EnterCriticalSection(&gPlayer.formatLock);
        LeaveCriticalSection(&gPlayer.formatLock);
    }
    if (section == gPlayer.history.slow)
        Sleep(kSlowCallbackMs);
    return section == gPlayer.history.forget ? 0 : 1;
}

[[noreturn]] void Fail(int code, const std::string& what)
{
    std::fprintf(stderr, "FAIL round %zu: %s\n", gPlayer.round, what.c_str());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}

void WorkerFails(Worker& w, const std::string& what)
{
    if (!w.failed)
        w.failure = what;
    w.failed = true;
}

// A call of the frame path, timed against its bound.
template <class Call>
void FramePath(Worker& w, const char* what, Call call)
{
    const DWORD start = GetTickCount();
    call();
    const DWORD took = GetTickCount() - start;
    if (took > kFramePathBoundMs)
        WorkerFails(w, std::string(what) + " took " + std::to_string(took) + " ms");
}

void RunFrames(Worker& w)
{
    size_t filled = 64;
    for (const Plan& plan : w.plans)
        filled = std::max(filled, plan.bytes + 64);
    for (int64_t i = 0; i < w.op.b && !w.failed; ++i) {
        Fill(w.buffer, filled);
        FramePath(w, "Process", [&] { gPlayer.guest.Frame(w.op.a, w.buffer); });
        std::string why;
        if (!FrameIsWhole(w.buffer, filled, w.plans, why))
            WorkerFails(w, why + ", section " + std::to_string(w.op.a));
    }
}

void RunOnDialog(const std::function<void(HWND)>& call)
{
    gPlayer.ui->Run([&call] {
        if (const HWND dialog = gPlayer.ui->Dialog())
            call(dialog);
    });
}

void Press(int id)
{
    RunOnDialog([id](HWND dialog) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    });
}

void RunOp(int role)
{
    Player& p = gPlayer;
    Worker& w = p.workers[role];
    const Op& op = w.op;
    const std::string& n = op.name;
    if (n == "frames") {
        RunFrames(w);
    } else if (n == "fmt") {
        EnterCriticalSection(&p.formatLock);
        FramePath(w, "SetFormat", [&] {
            p.guest.Format(static_cast<int32_t>(op.a), static_cast<int32_t>(op.b), static_cast<int32_t>(op.c),
                           static_cast<int32_t>(op.d));
        });
        LeaveCriticalSection(&p.formatLock);
    } else if (n == "close") {
        p.guest.d.close();
    } else if (n == "init") {
        const InitParams params = {0, SectionCallback};
        p.guest.d.init(&params);
    } else if (n == "unload") {
        p.closeAtExit(nullptr);
        p.guest.Unload();
    } else if (n == "load") {
        p.guest = Guest(p.dll);
        if (!p.guest.Loaded())
            WorkerFails(w, "LoadLibrary failed");
        p.closeAtExit(p.guest.d.close);
    } else if (n == "suspend") {
        SuspendThread(p.ui->Handle());
        Sleep(static_cast<DWORD>(op.a));
        ResumeThread(p.ui->Handle());
    } else if (n == "kill") {
        Sleep(static_cast<DWORD>(op.b));
        Worker& victim = p.workers[op.a];
        TerminateThread(victim.thread, 1);
        WaitForSingleObject(victim.thread, 5000);
        CloseHandle(victim.thread);
        victim.thread = nullptr;
        SetEvent(victim.done);
    } else if (n == "sleep") {
        Sleep(static_cast<DWORD>(op.a));
    } else if (n == "exit") {
        Sleep(static_cast<DWORD>(op.a));
        SetEvent(p.exitSignal);
        ExitProcess(0);
    } else if (n == "show") {
        ShowDialog(p.guest, *p.ui);
    } else if (n == "slide") {
        RunOnDialog([&op](HWND dialog) {
            static const int kSliders[] = {IDC_SLIDER_RED, IDC_SLIDER_GREEN, IDC_SLIDER_BLUE};
            for (int64_t i = 0; i < op.b; ++i) {
                const int position = static_cast<int>((op.a + 37 * i) % (kSliderMax + 1));
                const HWND slider = GetDlgItem(dialog, kSliders[i % 3]);
                SendMessageA(slider, TBM_SETPOS, TRUE, position);
                SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(slider));
            }
        });
    } else if (n == "ok") {
        Press(IDC_OK);
    } else if (n == "cancel") {
        Press(IDC_CANCEL);
    } else if (n == "closebox") {
        RunOnDialog([](HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    }
}

DWORD WINAPI WorkerMain(void* raw)
{
    const int role = static_cast<int>(reinterpret_cast<intptr_t>(raw));
    Worker& w = gPlayer.workers[role];
    for (;;) {
        WaitForSingleObject(w.start, INFINITE);
        RunOp(role);
        SetEvent(w.done);
    }
}

void StartWorker(int role)
{
    Worker& w = gPlayer.workers[role];
    w.thread = CreateThread(nullptr, 0, WorkerMain, reinterpret_cast<void*>(static_cast<intptr_t>(role)), 0, nullptr);
}

// What the history can say about the settings: sections surely in the
// session (a frame entered them with nothing beside it that could hold the
// store) and sections perhaps in it. Loose: the session may not be the one
// the file was read for (a load without Init, Init beside a Close).
struct SettingsModel {
    std::set<int64_t> must, may, disk, ever;
    bool loose = false;
    int64_t forget = -1;

    bool Kept(int64_t s) const { return s != 0 && (s != forget || (s >= 1 && s <= 4)); }
    std::set<int64_t> Kept(const std::set<int64_t>& all) const
    {
        std::set<int64_t> kept;
        for (const int64_t s : all)
            if (Kept(s))
                kept.insert(s);
        return kept;
    }
};

void CheckIni(SettingsModel& m, const std::set<int64_t>& mayThisRound, bool loose)
{
    bool exists = false;
    const std::string text = ReadFileText(gPlayer.ini, exists);
    std::set<int64_t> found;
    std::string why;
    if (exists && !ParseIni(text, found, why))
        Fail(1, "settings file: " + why + "\n" + text);
    std::set<int64_t> allowed = m.disk;
    for (const int64_t s : m.Kept(loose ? m.ever : mayThisRound))
        allowed.insert(s);
    for (const int64_t s : found)
        if (!allowed.count(s))
            Fail(1, "settings file holds section " + std::to_string(s) + " beyond " + Names(allowed));
    if (!loose)
        for (const int64_t s : m.Kept(m.must))
            if (!found.count(s))
                Fail(1, "settings file lacks section " + std::to_string(s) + ": holds " + Names(found) +
                            ", the session surely entered " + Names(m.must));
    m.disk = found;
}

bool Has(const Round& r, const char* name)
{
    for (const Op& op : r.op)
        if (op.name == name)
            return true;
    return false;
}

// Plays the rounds, the library's clean-up after them (Close, FreeLibrary)
// unless the history exits. Returns only when everything held.
// Plays the history and its epilogue; true when the history had already
// unloaded the library, so that the epilogue's Close did not run.
bool Play()
{
    Player& p = gPlayer;
    bool epilogueSkipped = false;
    History& h = p.history;
    SettingsModel m;
    m.forget = h.forget;
    for (const auto& entry : h.file) {
        m.disk.insert(entry.first);
        m.ever.insert(entry.first);
    }
    m.loose = true;  // no Init yet
    std::set<Plan> formats = {Plan{}};
    bool loaded = true, dirty = false, killed = false;
    // The epilogue: Close, then FreeLibrary, each a round of its own.
    History rest = h;
    if (!Has(h.rounds.empty() ? Round{} : h.rounds.back(), "exit")) {
        Round close, unload;
        close.op[kControl] = {"close"};
        unload.op[kControl] = {"unload"};
        rest.rounds.push_back(close);
        rest.rounds.push_back(unload);
    }
    for (p.round = 0; p.round < rest.rounds.size(); ++p.round) {
        Round r = rest.rounds[p.round];
        if (!loaded && r.op[kControl].name == "close") {
            epilogueSkipped = true;
            continue;  // the epilogue after an unload
        }
        if (!loaded && r.op[kControl].name == "unload")
            continue;
        std::vector<Plan> plans(formats.begin(), formats.end());
        for (const Op& op : r.op)
            if (op.name == "fmt")
                plans.push_back(PlanOf(op));
        for (int role = 0; role < kRoles; ++role) {
            Worker& w = p.workers[role];
            w.op = r.op[role];
            w.plans = plans;
            ResetEvent(w.done);
            if (w.op.name.empty())
                SetEvent(w.done);
            else
                SetEvent(w.start);
        }
        const DWORD roundStart = GetTickCount();
        HANDLE done[kRoles];
        for (int role = 0; role < kRoles; ++role)
            done[role] = p.workers[role].done;
        if (WaitForMultipleObjects(kRoles, done, TRUE, kRoundBoundMs) != WAIT_OBJECT_0) {
            std::string stuck;
            for (int role = 0; role < kRoles; ++role)
                if (WaitForSingleObject(done[role], 0) != WAIT_OBJECT_0)
                    stuck += std::string(stuck.empty() ? "" : ", ") + kRoleNames[role] + " " + r.op[role].name;
            Fail(4, stuck + ": not returned after " + std::to_string(kRoundBoundMs) + " ms");
        }
        if (std::getenv("ZVK_HISTORY_TRACE"))
            std::fprintf(stderr, "round %zu: %lu ms\n", p.round, GetTickCount() - roundStart);
        for (int role = 0; role < kRoles; ++role)
            if (p.workers[role].failed)
                Fail(1, std::string(kRoleNames[role]) + " " + r.op[role].name + ": " + p.workers[role].failure);

        // What the round did to the model.
        std::set<int64_t> frameSections;
        std::set<std::string> others;
        int64_t fewestFrames = 1 << 30;
        for (int role = 0; role < kRoles; ++role) {
            const Op& op = r.op[role];
            if (op.name == "frames") {
                frameSections.insert(op.a);
                fewestFrames = std::min(fewestFrames, op.b);
            }
            else if (!op.name.empty() && op.name != "sleep")
                others.insert(op.name);
        }
        std::set<int64_t> may = m.may;
        may.insert(frameSections.begin(), frameSections.end());
        m.ever.insert(frameSections.begin(), frameSections.end());
        const bool init = others.count("init"), close = others.count("close");
        if (close)
            CheckIni(m, may, m.loose || init);
        if (init) {
            // the file as it was read, and what the frames beside it entered
            m.must = close ? std::set<int64_t>{} : m.disk;
            m.may = m.disk;
            m.may.insert(may.begin(), may.end());
            m.loose = close || others.count("cancel") || others.count("closebox");
        } else {
            m.may = may;
            if (frameSections.size() == 1 && others.empty() && fewestFrames >= 3)
                m.must.insert(*frameSections.begin());
        }
        if (others.count("load"))
            m.loose = true;

        if (others.count("fmt")) {
            // the last SetFormat of the round wins, whichever it was
            formats.clear();
            for (const Op& op : r.op)
                if (op.name == "fmt")
                    formats.insert(PlanOf(op));
        }

        if (!frameSections.empty() || others.count("fmt") || others.count("init") || others.count("show"))
            dirty = true;
        else if (close)
            dirty = false;
        if (others.count("kill"))
            killed = true;
        if (others.count("unload")) {
            loaded = false;
            if (!dirty && !UnloadsWithin(p.name, 3000))
                Fail(1, std::string("the library stays after FreeLibrary, Close having ended everything") +
                            (killed ? " (a frame thread was killed inside it earlier)" : ""));
        }
        if (others.count("load"))
            loaded = true;
        for (int role = kF1; role <= kF2; ++role)
            if (!p.workers[role].thread) {
                p.workers[role].failed = false;
                StartWorker(role);
            }
    }
    return epilogueSkipped;
}

int PlayChild(const std::string& dll, const std::string& signal, const std::string& text)
{
    AddVectoredExceptionHandler(1, ReportCrash);
    SetUnhandledExceptionFilter(ReportUnhandled);
    Player& p = gPlayer;
    if (!Parse(text, p.history)) {
        std::fprintf(stderr, "cannot read the history: %s\n", text.c_str());
        return 2;
    }
    MakeValidBlocks();
    // A copy of its own: its settings file is its own too.
    p.name = "history_" + std::to_string(GetCurrentProcessId());
    p.dll = ExeFolder() + p.name + ".dll";
    p.ini = ExeFolder() + "Plugins\\" + p.name + ".ini";
    CopyFileA(dll.c_str(), p.dll.c_str(), FALSE);
    CreateDirectoryA((ExeFolder() + "Plugins").c_str(), nullptr);
    DeleteFileA(p.ini.c_str());
    if (!p.history.file.empty()) {
        const std::string ini = IniText(p.history.file);
        const HANDLE file = CreateFileA(p.ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, ini.data(), static_cast<DWORD>(ini.size()), &written, nullptr);
        CloseHandle(file);
    }
    p.exitSignal = OpenEventA(EVENT_MODIFY_STATE, FALSE, signal.c_str());
    InitializeCriticalSection(&p.formatLock);
    // Loaded before the plug-in, so detached after it at exit.
    p.helper = LoadLibraryA(ZVK_DETACH_DLL);
    p.closeAtExit = reinterpret_cast<void(__cdecl*)(CloseEntry)>(
        reinterpret_cast<void*>(GetProcAddress(p.helper, "CloseAtExit")));
    p.guest = Guest(p.dll);
    if (!p.closeAtExit || !p.guest.Loaded()) {
        std::fprintf(stderr, "cannot load %s or the detach DLL\n", p.dll.c_str());
        return 2;
    }
    p.closeAtExit(p.guest.d.close);
    p.ui = new UiThread;  // lives until the process ends
    for (int role = 0; role < kRoles; ++role) {
        Worker& w = p.workers[role];
        w.start = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        w.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (role <= kF2)
            w.buffer = static_cast<uint8_t*>(VirtualAlloc(nullptr, kBufferBytes, MEM_COMMIT, PAGE_READWRITE));
        StartWorker(role);
    }
    const bool unloadedWithoutClose = Play();
    p.round = p.history.rounds.size();
    // A window the host left open when it let go of the library holds the
    // library until the user closes it.
    if (unloadedWithoutClose)
        RunOnDialog([](HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    if (!UnloadsWithin(p.name, 3000))
        Fail(1, unloadedWithoutClose ? "the library stays after the last FreeLibrary and the window's close"
                                     : "the library stays after the last FreeLibrary, Close before it");
    DeleteFileA(p.dll.c_str());
    DeleteFileA(p.ini.c_str());
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0);  // nothing of the history's threads to wait for
    return 0;
}

// --- the driver (the parent process) ----------------------------------------

struct Outcome {
    bool passed;
    std::string what;
};

// Runs one history in a child: its exit code says how it went; a history
// that exits must end within kExitBoundMs of its ExitProcess.
Outcome RunChild(const std::string& dll, const std::string& text)
{
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string signal = "zvk_history_exit_" + std::to_string(GetCurrentProcessId());
    const HANDLE exited = CreateEventA(nullptr, TRUE, FALSE, signal.c_str());
    std::string line = std::string("\"") + exe + "\" --play \"" + dll + "\" " + signal + " \"" + text + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        CloseHandle(exited);
        return {false, "cannot start the child"};
    }
    const HANDLE both[] = {child.hProcess, exited};
    DWORD ended = WaitForMultipleObjects(2, both, FALSE, kHistoryBoundMs);
    Outcome outcome = {true, ""};
    if (ended == WAIT_OBJECT_0 + 1 && WaitForSingleObject(child.hProcess, kExitBoundMs) != WAIT_OBJECT_0)
        outcome = {false, "the process did not end within " + std::to_string(kExitBoundMs) + " ms of ExitProcess"};
    else if (ended == WAIT_TIMEOUT)
        outcome = {false, "the history did not end within " + std::to_string(kHistoryBoundMs) + " ms"};
    if (!outcome.passed)
        TerminateProcess(child.hProcess, 5);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    if (outcome.passed && code != 0)
        outcome = {false, code == 3 ? "crashed (see FATAL above)" : "exit code " + std::to_string(code)};
    // After an exit the child cleaned nothing: its file must still be whole
    // and hold no section the history never had.
    const std::string name = "history_" + std::to_string(child.dwProcessId);
    if (outcome.passed && ended == WAIT_OBJECT_0 + 1) {
        bool exists = false;
        const std::string ini = ReadFileText(ExeFolder() + "Plugins\\" + name + ".ini", exists);
        std::set<int64_t> found;
        std::string why;
        if (exists && !ParseIni(ini, found, why))
            outcome = {false, "settings file after ExitProcess: " + why};
    }
    DeleteFileA((ExeFolder() + "Plugins\\" + name + ".ini").c_str());
    // The system may hold the ended child's image a moment longer.
    const std::string copy = ExeFolder() + name + ".dll";
    WaitFor([&copy] { return DeleteFileA(copy.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }, 2000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(exited);
    return outcome;
}

// Under Wine with no window manager on the display, every show and destroy
// of a managed window waits 1 to 2 s for one: the test's own prefix shows
// windows unmanaged (a Wine setting, read by each process at its start).
void UnmanagedWindowsIfAsked()
{
    if (!std::getenv("ZVK_UNMANAGED_WINDOWS"))
        return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(key);
    }
}

int RunAll(const std::string& dll, const std::vector<std::pair<std::string, std::string>>& histories)
{
    UnmanagedWindowsIfAsked();
    int failed = 0;
    const DWORD start = GetTickCount();
    for (size_t i = 0; i < histories.size(); ++i) {
        const auto& [label, text] = histories[i];
        const Outcome outcome = RunChild(dll, text);
        if (!outcome.passed) {
            ++failed;
            std::printf("FAILED %s: %s\n  history: %s\n  replay: zvk_history_host.exe %s replay \"%s\"\n",
                        label.c_str(), outcome.what.c_str(), text.c_str(), dll.c_str(), text.c_str());
        }
        if ((i + 1) % 50 == 0)
            std::printf("%zu histories, %d failed, %lu s\n", i + 1, failed, (GetTickCount() - start) / 1000);
        std::fflush(stdout);
    }
    std::printf("histories: %zu passed, %d failed (%lu s)\n", histories.size() - static_cast<size_t>(failed), failed,
                (GetTickCount() - start) / 1000);
    return failed ? 1 : 0;
}

std::vector<std::pair<std::string, std::string>> Seeds(uint64_t first, uint64_t count)
{
    std::vector<std::pair<std::string, std::string>> histories;
    for (uint64_t seed = first; seed < first + count; ++seed)
        histories.emplace_back("seed " + std::to_string(seed), Print(Generate(seed)));
    return histories;
}

// The fixed sample of the test command: about two minutes here.
constexpr uint64_t kSampleFirst = 1, kSampleCount = 50;

}  // namespace
}  // namespace zvk

int main(int argc, char** argv)
{
    using namespace zvk;
    const std::string mode = argc > 2 ? argv[2] : "";
    if (argc == 5 && std::string(argv[1]) == "--play")
        return PlayChild(argv[2], argv[3], argv[4]);
    if (mode == "sample")
        return RunAll(argv[1], Seeds(kSampleFirst, kSampleCount));
    if (mode == "seeds" && argc == 5)
        return RunAll(argv[1], Seeds(std::stoull(argv[3]), std::stoull(argv[4])));
    if (mode == "seed" && argc == 4)
        return RunAll(argv[1], Seeds(std::stoull(argv[3]), 1));
    if (mode == "replay" && argc == 4)
        return RunAll(argv[1], {{"replay", argv[3]}});
    if (mode == "print" && argc == 4) {
        std::printf("%s\n", Print(Generate(std::stoull(argv[3]))).c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: %s DLL sample | seeds FIRST COUNT | seed N | replay \"HISTORY\" | print N\n", argv[0]);
    return 2;
}
