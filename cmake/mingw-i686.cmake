# Cross build for 32-bit Windows with MinGW-w64 (Debian's i686-w64-mingw32).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_prefix i686-w64-mingw32)
# Windows-side tests run under Wine.
find_program(QD_WINE NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWToolchain.cmake)
