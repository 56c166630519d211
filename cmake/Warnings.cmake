# Our own targets build with -Wall -Wextra; warnings become errors only when
# SHAREDLIB_WARNINGS_AS_ERRORS is on (our presets and CI turn it on), so a
# consumer's build never fails on a newer compiler's new warning.
option(SHAREDLIB_WARNINGS_AS_ERRORS "Treat warnings in SharedLib's own targets as errors" OFF)

function(sharedlib_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(SHAREDLIB_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
