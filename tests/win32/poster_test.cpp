// The refresh poster: its own thread posts for a caller that must never
// wait. Without that thread a request is dropped; the caller never posts
// itself (a post takes the window system's locks).
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/poster.h"

namespace zvk {
namespace {

constexpr UINT kMessage = WM_APP + 7;

// The wParam of the first kMessage that reaches this thread's queue within
// ms, or -1.
long long Arrived(HWND window, DWORD ms)
{
    const DWORD start = GetTickCount();
    MSG msg;
    do {
        if (PeekMessageA(&msg, window, kMessage, kMessage, PM_REMOVE))
            return static_cast<long long>(msg.wParam);
        Sleep(5);
    } while (GetTickCount() - start < ms);
    return -1;
}

TEST(Poster, PostsOnlyWhileItsThreadRuns)
{
    const HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    fw::Poster poster;
    const struct {
        const char* when;
        void (*before)(fw::Poster&);
        long long arrives;
    } steps[] = {
        {"before Start", [](fw::Poster&) {}, -1},
        {"after Start", [](fw::Poster& p) { ASSERT_TRUE(p.Start()); }, 2},
        {"after Stop", [](fw::Poster& p) { p.Stop(); }, -1},
        {"after a second Start", [](fw::Poster& p) { ASSERT_TRUE(p.Start()); }, 4},
    };
    WPARAM request = 0;
    for (const auto& step : steps) {
        step.before(poster);
        poster.Post(window, kMessage, ++request);
        EXPECT_EQ(Arrived(window, step.arrives < 0 ? 300 : 3000), step.arrives) << step.when;
    }
    poster.Stop();
    DestroyWindow(window);
}

}  // namespace
}  // namespace zvk
