# Warnings for our own targets only; third-party code keeps its own flags.
function(zvk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion)
endfunction()
