# Shared by both MinGW-w64 toolchain files. The -posix variants carry the
# std::thread support that GoogleTest needs.
set(CMAKE_C_COMPILER   ${KEYVALE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEYVALE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KEYVALE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KEYVALE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the executables need no MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
