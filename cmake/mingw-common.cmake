# Shared by the mingw-w64 toolchain files; ZVK_MINGW is the target triple.
# The posix thread model, so that std::mutex exists for GoogleTest and the
# test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZVK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZVK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZVK_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZVK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The plug-in DLL links the runtime of the win32 thread model instead (see
# plugin/CMakeLists.txt): the posix one brings the threads library, which
# imports functions that Windows XP lacks (GetTickCount64). Its folder:
execute_process(COMMAND ${ZVK_MINGW}-g++-win32 -print-file-name=libstdc++.a
                OUTPUT_VARIABLE zvk_win32_threads_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(IS_ABSOLUTE "${zvk_win32_threads_libstdcxx}")
  get_filename_component(ZVK_WIN32_THREADS_RUNTIME "${zvk_win32_threads_libstdcxx}" DIRECTORY)
endif()

# Everything static, so the DLL and the programs import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
