# Cross build of the product: a 32-bit Windows DLL and Windows test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SFH_MINGW_PREFIX i686-w64-mingw32)
set(SFH_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
