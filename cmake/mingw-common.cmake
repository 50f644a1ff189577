# The posix thread model: GoogleTest needs std::mutex. The runtime is linked statically.
set(CMAKE_C_COMPILER ${SFH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SFH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SFH_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SFH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows test programs run under Wine through CTest (scripts/wine-run sets up the prefix).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${SFH_WINE_ARCH})
