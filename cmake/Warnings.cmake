# keyvale_warnings(target): the project's warning set, as errors in CI.
function(keyvale_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
  if(KEYVALE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
