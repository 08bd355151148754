# Source lists, shared by the Windows build and the native test build.

# Platform-free code: compiles with the host compiler too, so it is unit-tested
# natively under the sanitizers.
set(QD_PORTABLE_SOURCES
  rtl/Format.cpp
  rtl/Stream.cpp
  progress/ProgTracker.cpp
  net/iTovInetUtils.cpp
  app/TovUtil.cpp
)

# Win32 parts, beside the platform-free ones.
set(QD_WIN32_SOURCES
  rtl/FileStream_win.cpp
  rtl/Thread_win.cpp
  net/iTovInetUtils_win.cpp
  net/TovDownload_win.cpp
  app/TovUtil_win.cpp
  app/LightDialog_win.cpp
  app/InstallerTrust_win.cpp
  net/MatchesAnyText_win.cpp
)

set(QD_INCLUDE_DIRS
  ${CMAKE_SOURCE_DIR}/rtl
  ${CMAKE_SOURCE_DIR}/net
  ${CMAKE_SOURCE_DIR}/progress
  ${CMAKE_SOURCE_DIR}/app
)

file(GLOB QD_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
