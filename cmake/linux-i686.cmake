# A static 32-bit x86 Linux build of the portable core and its kernel and
# arithmetic tests, with the product's code generation (Pentium Pro, the
# mingw i686 default: x87 doubles; the i686 SSE2 loops). Runs natively where
# the kernel runs 32-bit programs, else under qemu-i386-static: a static
# program needs no loader.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -march=pentiumpro")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=pentiumpro")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(ZVK_CORE_32 ON CACHE BOOL "Only the 32-bit core tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/run32.sh)
