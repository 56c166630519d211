# Our own targets build with warnings as errors; third-party code is not touched.
function(sharedlib_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
