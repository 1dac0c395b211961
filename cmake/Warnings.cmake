# Warnings are errors in both compilers, for the project's own targets only.
function(tavrino_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow -Werror>)
endfunction()
