# The same Windows sources as a 64-bit build. Its only purpose is to run the Windows
# test programs under a 64-bit Wine on machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SFH_MINGW_PREFIX x86_64-w64-mingw32)
set(SFH_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
