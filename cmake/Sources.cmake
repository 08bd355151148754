# Source lists and the layers, shared by the Windows build and the native
# test build.

# Each folder is one layer, built as a library of its own: rtl at the bottom,
# net and progress on it, app on top. A layer's library sees only its own
# folder and those of the layers below it, so an include the wrong way does
# not compile.
set(QD_LAYERS rtl net progress app)
set(QD_BELOW_rtl)
set(QD_BELOW_net rtl)
set(QD_BELOW_progress rtl)
set(QD_BELOW_app net progress)

# Platform-free code: compiles with the host compiler too, so it is unit-tested
# natively under the sanitizers.
set(QD_PORTABLE_rtl rtl/Format.cpp rtl/Stream.cpp rtl/SystemError.cpp rtl/Texts.cpp)
set(QD_PORTABLE_net net/iTovInetUtils.cpp net/Resume.cpp)
set(QD_PORTABLE_progress progress/ProgTracker.cpp)
set(QD_PORTABLE_app app/TovUtil.cpp app/RunPhase.cpp)

# Win32 parts, beside the platform-free ones.
set(QD_WIN32_rtl rtl/FileStream_win.cpp rtl/Thread_win.cpp rtl/SystemError_win.cpp rtl/Texts_win.cpp
                 rtl/WideText_win.cpp rtl/MessageWait_win.cpp)
set(QD_WIN32_net net/iTovInetUtils_win.cpp net/TovDownload_win.cpp net/MatchesAnyText_win.cpp)
set(QD_WIN32_progress)
set(QD_WIN32_app app/TovUtil_win.cpp app/LightDialog_win.cpp app/Completion_win.cpp app/InstallerTrust_win.cpp
                 app/DllSearch_win.cpp app/MainBlock_win.cpp
                 app/SingleInstance_win.cpp app/TaskbarProgress_win.cpp)

# qd_add_layers(<PORTABLE|WIN32>...): the library qd_<layer> of every layer,
# from the kinds of sources named.
function(qd_add_layers)
  foreach(layer ${QD_LAYERS})
    set(sources)
    foreach(kind ${ARGN})
      list(APPEND sources ${QD_${kind}_${layer}})
    endforeach()
    add_library(qd_${layer} STATIC ${sources})
    target_include_directories(qd_${layer} PUBLIC ${CMAKE_SOURCE_DIR}/${layer})
    foreach(below ${QD_BELOW_${layer}})
      target_link_libraries(qd_${layer} PUBLIC qd_${below})
    endforeach()
  endforeach()
endfunction()

# The host builds read the English texts from a table made of the English
# language file (the Windows builds read them from the resources). Made when
# configuring, which an edited file makes happen again.
set(QD_ENGLISH_TEXTS ${CMAKE_BINARY_DIR}/generated/EnglishTexts.cpp)
set(RC ${CMAKE_SOURCE_DIR}/resources/lang/en.rc)
set(OUT ${QD_ENGLISH_TEXTS})
include(${CMAKE_SOURCE_DIR}/cmake/EnglishTexts.cmake)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RC} ${CMAKE_SOURCE_DIR}/cmake/EnglishTexts.cmake)

file(GLOB QD_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)

# The executables built by a direct compiler call (the fuzzers, the Wine-side
# unit tests) compile the platform-free sources of every layer at once.
set(QD_PORTABLE_PATHS)
set(QD_INCLUDE_FLAGS)
foreach(layer ${QD_LAYERS})
  foreach(src ${QD_PORTABLE_${layer}})
    list(APPEND QD_PORTABLE_PATHS ${CMAKE_SOURCE_DIR}/${src})
  endforeach()
  list(APPEND QD_INCLUDE_FLAGS -I${CMAKE_SOURCE_DIR}/${layer})
endforeach()
