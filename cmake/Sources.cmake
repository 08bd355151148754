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

# The portable sources as full paths and the include directories as -I flags,
# for the executables built by a direct compiler call (the fuzzers, the
# Wine-side unit tests).
set(QD_PORTABLE_PATHS)
foreach(src ${QD_PORTABLE_SOURCES})
  list(APPEND QD_PORTABLE_PATHS ${CMAKE_SOURCE_DIR}/${src})
endforeach()
set(QD_INCLUDE_FLAGS)
foreach(dir ${QD_INCLUDE_DIRS})
  list(APPEND QD_INCLUDE_FLAGS -I${dir})
endforeach()
