# What the two MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and _prefix (Debian's target triplet) first.
set(CMAKE_SYSTEM_NAME Windows)
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
set(CMAKE_CROSSCOMPILING_EMULATOR ${QD_WINE})
