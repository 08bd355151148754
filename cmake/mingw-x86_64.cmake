# Cross build for 64-bit Windows with MinGW-w64 (Debian's x86_64-w64-mingw32):
# the same program, for the test machines that run no 32-bit code. The
# release stays the i686 build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_prefix x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_prefix}-gcc-win32 ${_prefix}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_prefix}-g++-win32 ${_prefix}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_prefix}-windres REQUIRED)
find_program(CMAKE_STRIP NAMES ${_prefix}-strip)
find_program(QD_OBJDUMP NAMES ${_prefix}-objdump)
find_program(QD_DLLTOOL NAMES ${_prefix}-dlltool REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows-side tests run under 64-bit Wine, its loader started directly:
# Debian's wine wrapper takes the 32-bit one whenever that is installed.
find_program(QD_WINE NAMES wine64 PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QD_WINE})
