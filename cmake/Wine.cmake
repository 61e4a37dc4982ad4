# Windows programs built here run under a private Wine prefix inside the
# build folder, with a Russian locale (ANSI code page 1251): a 32-bit prefix
# for the i686 build, a 64-bit one for the x86-64 test build.
set(ZVK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for tests")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZVK_WINEARCH win64)
  set(ZVK_WINE_LOADER /usr/lib/wine/wine64)
else()
  set(ZVK_WINEARCH win32)
  set(ZVK_WINE_LOADER wine)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
