# zvk_host_script_test(NAME SCRIPT [EXPECT_RC n] [FIXTURE_INI file] [ARGS a b ...]
#                      [PREFIX dir USERS_FOLDER n [WINDOWS_VERSION v] [LOG_PIXELS dpi]] [PNG_DIR dir])
# Expected output: the script's name with .expected in place of .zvk.
# PREFIX runs the host in a Wine prefix of its own, for tests that change the
# registry: USERS_FOLDER sets "StoreInUsersFolder" there and empties the
# user's Zentavio folder; WINDOWS_VERSION (e.g. win98) is what the host's
# version query answers; LOG_PIXELS (e.g. 120) is the display's DPI. PNG_DIR
# receives the pictures the script wrote (screenshot, curve), to look at
# after the run.
function(zvk_host_script_test name script)
  cmake_parse_arguments(PARSE_ARGV 2 opt "" "EXPECT_RC;FIXTURE_INI;PREFIX;USERS_FOLDER;WINDOWS_VERSION;LOG_PIXELS;PNG_DIR" "ARGS")
  get_filename_component(script ${script} ABSOLUTE)
  string(REGEX REPLACE "\\.zvk$" ".expected" expected ${script})
  if(NOT DEFINED opt_EXPECT_RC)
    set(opt_EXPECT_RC 0)
  endif()
  set(fixture "")
  if(opt_FIXTURE_INI)
    get_filename_component(fixture ${opt_FIXTURE_INI} ABSOLUTE)
  endif()
  string(REPLACE ";" "\\;" host_args "${opt_ARGS}")
  add_test(NAME host.${name}
    COMMAND ${CMAKE_COMMAND}
      -DWINE_RUN=${CMAKE_BINARY_DIR}/wine-run
      -DHOST_EXE=$<TARGET_FILE:zvkhost>
      -DPLUGIN_DLL=$<TARGET_FILE:ZVK_Gamma>
      -DSCRIPT=${script}
      -DEXPECTED=${expected}
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/host-runs/${name}
      -DEXPECT_RC=${opt_EXPECT_RC}
      -DFIXTURE_INI=${fixture}
      "-DARGS=${host_args}"
      -DPREFIX=${opt_PREFIX}
      -DUSERS_FOLDER=${opt_USERS_FOLDER}
      -DWINDOWS_VERSION=${opt_WINDOWS_VERSION}
      -DLOG_PIXELS=${opt_LOG_PIXELS}
      -DPNG_DIR=${opt_PNG_DIR}
      -P ${PROJECT_SOURCE_DIR}/tests/win32/RunHostScript.cmake)
endfunction()
