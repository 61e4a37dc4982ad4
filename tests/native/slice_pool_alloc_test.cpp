// A split frame allocates nothing: not the pool's Run, not its workers, not
// the slice job. Counts every operator new of the process while frames run.
// Left out under the sanitizers, which bring operator new of their own.
#include "framework/slice_pool.h"
#include "gamma/frame_slices.h"
#include "gamma/kernel_timing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "tests/native/built_tables.h"
#include "tests/native/test_new.h"

namespace zvk {
namespace {

using test::allocations;
using test::counting;

TEST(SlicePool, SplitFramesAllocateNothing)
{
#if !ZVK_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizer's operator new cannot be counted";
#else
    fw::SlicePool pool;
    ASSERT_TRUE(pool.Start(4));
    const TableSet tables = Built(200, 50, 316);
    std::vector<uint8_t> frame(3 * 4099, 0x5A);
    FrameJob yuv{&BestKernels(), FrameKernel::kYuvAveraged, &tables, frame.data(), 4099};
    FrameJob rgb{&BestKernels(), FrameKernel::kRgb24, &tables, frame.data(), 4099};
    pool.Run(CorrectFrameSlice, &yuv);  // the priority is applied once, outside the count
    allocations = 0;
    counting = true;
    for (int r = 0; r < 200; ++r) {
        pool.Run(CorrectFrameSlice, &yuv, 1 + r % 4);
        pool.Run(CorrectFrameSlice, &rgb, 1 + r % 4);
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    // The count itself works: Start allocates the workers' block.
    fw::SlicePool other;
    counting = true;
    ASSERT_TRUE(other.Start(2));
    counting = false;
    EXPECT_GT(allocations.load(), 0);
    other.Stop();
    pool.Stop();
#endif
}

}  // namespace
}  // namespace zvk
