# Shared by the mingw-w64 toolchains: FERROLINK_MINGW_TRIPLE names the target.
# The -posix compilers: the default thread model has no std::thread, mutex or
# condition variable. A static runtime: the programs import only Windows' own
# DLLs, so nothing needs to be shipped beside them. Tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${FERROLINK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FERROLINK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FERROLINK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${FERROLINK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run)
