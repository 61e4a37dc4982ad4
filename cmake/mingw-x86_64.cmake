# Cross build of the same Windows sources for x86-64: test-only, for
# machines whose kernel runs no 32-bit program (64-bit Wine runs anywhere).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZVK_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
