# Warnings are errors in our own code; third-party code is built with its own settings.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow -Werror>)
endfunction()
