# Cross build for 64-bit Windows with MinGW-w64 (Debian's x86_64-w64-mingw32):
# the same program, for the test machines that run no 32-bit code. The
# release stays the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_prefix x86_64-w64-mingw32)
# Windows-side tests run under 64-bit Wine, its loader started directly:
# Debian's wine wrapper takes the 32-bit one whenever that is installed.
find_program(QD_WINE NAMES wine64 PATHS /usr/lib/wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWToolchain.cmake)
