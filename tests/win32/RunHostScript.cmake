# Runs one stand-in host script under Wine in a fresh host folder and compares
# what the host printed with the expected text.
#   WINE_RUN HOST_EXE PLUGIN_DLL SCRIPT EXPECTED WORK_DIR  (required)
#   ARGS        extra host command-line arguments (a ;-list)
#   FIXTURE_INI copied to Plugins/ZVK_Gamma.ini beside the host before the run
#   EXPECT_RC   the host's exit code (default 0)
#   PREFIX      a Wine prefix of the test's own; with it USERS_FOLDER (the
#               registry value "StoreInUsersFolder"), WINDOWS_VERSION and
#               LOG_PIXELS (the display's DPI, which this Wine reads from
#               "Control Panel\Desktop")
#   PNG_DIR     the script's PNG files are copied there after the run
foreach(var WINE_RUN HOST_EXE PLUGIN_DLL SCRIPT EXPECTED WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunHostScript: ${var} is not set")
  endif()
endforeach()
if(NOT DEFINED EXPECT_RC)
  set(EXPECT_RC 0)
endif()

set(host_dir ${WORK_DIR}/host)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${host_dir})
file(COPY ${HOST_EXE} ${PLUGIN_DLL} DESTINATION ${host_dir})
if(FIXTURE_INI)
  file(MAKE_DIRECTORY ${host_dir}/Plugins)
  file(COPY_FILE ${FIXTURE_INI} ${host_dir}/Plugins/ZVK_Gamma.ini)
endif()

if(PREFIX)
  set(ENV{WINEPREFIX} ${PREFIX})
  set(zentavio_key "HKLM\\SOFTWARE\\Zentavio")
  set(version_key "HKCU\\Software\\Wine\\AppDefaults\\zvkhost.exe")
  execute_process(COMMAND ${WINE_RUN} reg add ${zentavio_key} /v StoreInUsersFolder /t REG_DWORD
                          /d ${USERS_FOLDER} /f OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE reg_rc)
  if(NOT reg_rc EQUAL 0)
    message(FATAL_ERROR "cannot set StoreInUsersFolder in ${PREFIX}")
  endif()
  execute_process(COMMAND ${WINE_RUN} reg delete ${version_key} /f OUTPUT_QUIET ERROR_QUIET)
  if(WINDOWS_VERSION)
    execute_process(COMMAND ${WINE_RUN} reg add ${version_key} /v Version /d ${WINDOWS_VERSION} /f
                    OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(LOG_PIXELS)
    execute_process(COMMAND ${WINE_RUN} reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD
                            /d ${LOG_PIXELS} /f OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE reg_rc)
    if(NOT reg_rc EQUAL 0)
      message(FATAL_ERROR "cannot set LogPixels in ${PREFIX}")
    endif()
  endif()
  file(GLOB user_folders ${PREFIX}/drive_c/users/*/AppData/Roaming/Zentavio)
  if(user_folders)
    file(REMOVE_RECURSE ${user_folders})
  endif()
endif()

execute_process(
  COMMAND ${WINE_RUN} zvkhost.exe ZVK_Gamma.dll ${SCRIPT} ${ARGS}
  WORKING_DIRECTORY ${host_dir}
  OUTPUT_VARIABLE actual
  ERROR_VARIABLE errors
  RESULT_VARIABLE rc)
string(REPLACE "\r" "" actual "${actual}")
if(PNG_DIR)
  file(GLOB pictures ${host_dir}/*.png)
  file(MAKE_DIRECTORY ${PNG_DIR})
  if(pictures)
    file(COPY ${pictures} DESTINATION ${PNG_DIR})
  endif()
endif()
file(WRITE ${WORK_DIR}/actual.txt "${actual}")
file(READ ${EXPECTED} expected)

if(NOT actual STREQUAL expected)
  execute_process(COMMAND diff -u ${EXPECTED} ${WORK_DIR}/actual.txt OUTPUT_VARIABLE diff)
  message(FATAL_ERROR "host output differs from ${EXPECTED}:\n${diff}\nstderr:\n${errors}")
endif()
if(NOT rc STREQUAL EXPECT_RC)
  message(FATAL_ERROR "host exited with ${rc}, expected ${EXPECT_RC}\nstderr:\n${errors}")
endif()
