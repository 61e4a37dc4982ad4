# The Windows build writes the same DLL from the same source, wherever the
# tree and the build folder lie and whenever it runs: no build paths in what
# the compiler emits (line tables, __FILE__) and no link time in the images.
# tools/release.sh strips and packages the DLL this build makes, so the DLL
# the tests ran is the one users get.
#
# Line tables only (-g1): a crash address in the shipped DLL resolves to a
# source line through the unstripped copy kept beside the zip. They change
# no code: the stripped DLL is the same bytes without them.
#
# Of two prefix maps that match, the later wins, so the build folder (often
# inside the tree) comes second. Link options, not the toolchain's initial
# flags, so that a build folder configured before still gets them.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-g1>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
add_link_options(-Wl,--no-insert-timestamp)

# zvk_shipped_dll(TARGET): a GUI-subsystem DLL with its link map beside it
# (TARGET.map): which object every address comes from.
function(zvk_shipped_dll target)
  target_link_options(${target} PRIVATE -Wl,--subsystem,windows
                      "-Wl,-Map=$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map")
endfunction()
