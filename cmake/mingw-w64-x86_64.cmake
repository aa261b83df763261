# Cross build for Windows x86-64 with MinGW-w64 (the -posix variant, which has std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUIETWAY_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUIETWAY_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUIETWAY_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUIETWAY_MINGW_TRIPLE}-windres)

# The prefix that scripts/windows-deps.sh fills with the cross-built libraries.
if(NOT QUIETWAY_WIN_DEPS)
  if(DEFINED ENV{QUIETWAY_WIN_DEPS})
    set(QUIETWAY_WIN_DEPS $ENV{QUIETWAY_WIN_DEPS})
  else()
    set(QUIETWAY_WIN_DEPS /opt/quietway-win-deps)
  endif()
endif()
set(QUIETWAY_WIN_DEPS ${QUIETWAY_WIN_DEPS} CACHE PATH "Prefix of the cross-built Windows dependencies")

set(CMAKE_FIND_ROOT_PATH /usr/${QUIETWAY_MINGW_TRIPLE} ${QUIETWAY_WIN_DEPS})
set(CMAKE_PREFIX_PATH ${QUIETWAY_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs and tests run under Wine, in a private prefix under the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
