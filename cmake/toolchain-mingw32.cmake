# Cross build for 32-bit Windows: the release keyvale.exe. This kernel cannot
# run 32-bit Wine, so this build is compiled and inspected, never run here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KEYVALE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
