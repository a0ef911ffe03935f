# keyvale_warnings(target): the project's warning set, as errors in CI.
function(keyvale_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
  # GCC 12 at -O3 reports string concatenation in libstdc++ as overlapping
  # memcpy (GCC bug 105329): a false positive we cannot fix at the call site.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(KEYVALE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
