# Cross build for 32-bit Windows with MinGW-w64 (Debian's i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_prefix i686-w64-mingw32)
# The win32 thread model needs no winpthread DLL and keeps the program small.
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

# Windows-side tests run under Wine.
find_program(QD_WINE NAMES wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QD_WINE})
