# The Windows program and its Wine-side tests.
enable_language(RC)

# Static C and C++ runtime: the program needs no DLL beyond the system's.
add_compile_options(-Wall -Wextra -ffunction-sections -fdata-sections)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections
                 -Wl,--dynamicbase -Wl,--nxcompat)
# The tests' x86-64 build (cmake/mingw-x86_64.cmake) has no 2 GiB limit to lift.
set(QD_WIN64 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QD_WIN64 ON)
else()
  add_link_options(-Wl,--large-address-aware)
endif()
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE "-s")

# Byte-identical rebuilds: the same sources and per-build values give the same
# program wherever and whenever they are built. The link writes no time stamp
# (the PE checksum then follows from the content alone), and no source or
# build folder reaches the objects (the last map that matches wins, so a build
# folder inside the sources becomes "build").
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

string(REPLACE "." ";" _qd_version_parts "${QD_FILE_VERSION}")
list(LENGTH _qd_version_parts _qd_version_count)
if(NOT _qd_version_count EQUAL 4)
  message(FATAL_ERROR "QD_FILE_VERSION must have four numbers, got '${QD_FILE_VERSION}'")
endif()

# DLLs that are not among the system's known DLLs are delay-loaded: they are
# loaded on first use, after the entry has limited the search to the system
# folder, so a copy planted beside the program is never picked up.
# comdlg32 is a known DLL, but only Save As needs it: imported, it is loaded
# at start-up with the comctl32, winspool.drv and compstui it brings along,
# which under Wine put 30 to 80 ms before the dialog and so before the
# download; loaded on first use, it costs only the runs that save a copy.
# ole32 likewise: only the taskbar's progress needs it, once the shell has
# made the button.
# bcrypt gives the random name of the run's folder. ADVAPI32's RtlGenRandom
# would do too, but on Windows that export forwards to cryptbase.dll, which is
# not a known DLL and is resolved before the entry runs: a copy beside the
# program would be loaded first.
set(QD_DELAY_LOADED version wininet wintrust crypt32 comdlg32 ole32 bcrypt)
set(QD_DELAY_LIBS)
foreach(dll ${QD_DELAY_LOADED})
  set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
  # The definitions name the i686 stdcall symbols (Name@bytes); x86-64 has
  # one calling convention and plain names, so its build drops the suffix.
  set(def ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
  if(QD_WIN64)
    file(READ ${def} _def)
    string(REGEX REPLACE "@[0-9]+(\r?\n|$)" "\\1" _def "${_def}")
    set(def ${CMAKE_BINARY_DIR}/delayload/${dll}.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "${_def}" @ONLY)
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayload
    COMMAND ${QD_DLLTOOL} -k --input-def ${def} --output-delaylib ${lib}
    DEPENDS ${def}
    VERBATIM)
  list(APPEND QD_DELAY_LIBS ${lib})
  # ld drops the .text of an import-library member whose plain symbol nobody
  # names (dllimport calls name only __imp_X), and with it the lazy thunk the
  # delay IAT points at: the first call then jumps to 0. Naming each thunk
  # keeps it.
  # Read at configure time, so an edited list must configure again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def _exports REGEX "^[A-Za-z_].*@[0-9]+$")
  foreach(sym ${_exports})
    if(QD_WIN64)
      string(REGEX REPLACE "@[0-9]+$" "" sym "${sym}")
      list(APPEND QD_DELAY_KEEP "-Wl,-u,${sym}")
    else()
      list(APPEND QD_DELAY_KEEP "-Wl,-u,_${sym}")
    endif()
  endforeach()
endforeach()
add_custom_target(qd_delay_libs DEPENDS ${QD_DELAY_LIBS})
set(QD_WIN32_LIBS ${QD_DELAY_LIBS} shell32 user32 kernel32)

# The languages of the texts: each is a file resources/lang/<code>.rc, and
# English, which the platform falls back to, is always among them.
set(QD_LANGUAGES "all" CACHE STRING "Languages of the program's texts: all, or a list such as en;de;ja")
file(GLOB _qd_language_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/lang/*.rc)
set(_qd_languages)
foreach(f ${_qd_language_files})
  get_filename_component(code ${f} NAME_WE)
  list(APPEND _qd_languages ${code})
endforeach()
if(NOT QD_LANGUAGES STREQUAL "all")
  string(REPLACE "," ";" _qd_wanted "${QD_LANGUAGES}")
  foreach(code ${_qd_wanted})
    if(NOT code IN_LIST _qd_languages)
      message(FATAL_ERROR "QD_LANGUAGES: no language file resources/lang/${code}.rc (have: ${_qd_languages})")
    endif()
  endforeach()
  set(_qd_languages en ${_qd_wanted})
  list(REMOVE_DUPLICATES _qd_languages)
endif()
set(_qd_texts_rc "#include <windows.h>\n#include \"TextIds.h\"\n")
foreach(code ${_qd_languages})
  string(APPEND _qd_texts_rc "#include \"lang/${code}.rc\"\n")
endforeach()
# Regions whose Chinese the resource loader would not find under its own
# tag (measured under Wine: Hong Kong, Macao and Singapore fell back to
# English) get a copy of their script's tables, tagged for them: the file's
# sublanguage is redefined to the region's for a second reading.
foreach(copy "zh-TW SUBLANG_CHINESE_TRADITIONAL SUBLANG_CHINESE_HONGKONG"
             "zh-TW SUBLANG_CHINESE_TRADITIONAL SUBLANG_CHINESE_MACAU"
             "zh-CN SUBLANG_CHINESE_SIMPLIFIED SUBLANG_CHINESE_SINGAPORE")
  separate_arguments(copy)
  list(GET copy 0 code)
  list(GET copy 1 tag)
  list(GET copy 2 region)
  if(code IN_LIST _qd_languages)
    string(APPEND _qd_texts_rc "#undef ${tag}\n#define ${tag} ${region}\n#include \"lang/${code}.rc\"\n")
  endif()
endforeach()
set(QD_TEXTS_RC ${CMAKE_BINARY_DIR}/generated/Texts.rc)
file(CONFIGURE OUTPUT ${QD_TEXTS_RC} CONTENT "${_qd_texts_rc}")
message(STATUS "Languages: ${_qd_languages}")

qd_add_layers(PORTABLE WIN32)
# Every program that links the layers carries the texts they read.
target_sources(qd_rtl INTERFACE ${QD_TEXTS_RC})
set_source_files_properties(${QD_TEXTS_RC} PROPERTIES OBJECT_DEPENDS "${_qd_language_files};${CMAKE_SOURCE_DIR}/rtl/TextIds.h")
target_include_directories(qd_rtl PUBLIC ${CMAKE_SOURCE_DIR}/resources)
# The bottom layer carries what every user of the layers needs: the target
# Windows version and the system libraries, after all of the layers'.
target_compile_definitions(qd_rtl PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(qd_rtl PUBLIC ${QD_WIN32_LIBS})
target_link_options(qd_rtl INTERFACE ${QD_DELAY_KEEP})
add_dependencies(qd_rtl qd_delay_libs)

# qd_add_downloader(<target> [HOST host] [YEAR y] [SERIAL s] [VERSION a.b.c.d]
#                   [SIGNER name] [NO_SERIAL] [EMPTY_SERIAL] [NO_VERSION]
#                   [OUTPUT_NAME name] [SOURCES file...] [UNHARDENED]
#                   [LEGACY_CODE_PAGE])
# One build of the program with its own per-build values; the test variants
# differ only in these. Tests only: SOURCES are linked ahead of the layers, so
# a function they define (the entry's RestrictDllSearch or MainBlock) takes
# the place of the program's own; UNHARDENED links the delay-loaded DLLs as
# plain imports; LEGACY_CODE_PAGE leaves the UTF-8 code page out of the
# manifest, to show that the non-ASCII folder tests would notice.
function(qd_add_downloader target)
  cmake_parse_arguments(A "NO_SERIAL;EMPTY_SERIAL;NO_VERSION;EXCLUDE_FROM_ALL;UNHARDENED;LEGACY_CODE_PAGE"
                          "HOST;YEAR;SERIAL;VERSION;SIGNER;OUTPUT_NAME" "SOURCES" ${ARGN})
  foreach(v HOST YEAR SERIAL VERSION SIGNER)
    if(NOT DEFINED A_${v})
      set(A_${v} ${QD_DEFAULT_${v}})
    endif()
  endforeach()
  string(REPLACE "." "," QD_VERSION_COMMAS "${A_VERSION}")
  set(QD_VERSION_TEXT "${A_VERSION}")
  set(QD_HOST "${A_HOST}")
  set(QD_YEAR "${A_YEAR}")
  set(QD_SERIAL_VALUE "${A_SERIAL}")
  set(QD_SIGNER "${A_SIGNER}")
  set(QD_HAVE_SERIAL 1)
  set(QD_HAVE_VERSION 1)
  if(A_NO_SERIAL)
    set(QD_HAVE_SERIAL 0)
  endif()
  if(A_EMPTY_SERIAL)
    set(QD_SERIAL_VALUE "")
  endif()
  if(A_NO_VERSION)
    set(QD_HAVE_VERSION 0)
  endif()
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/variants/${target})
  set(QD_MANIFEST ${QD_MANIFEST_OF_BUILD})
  if(A_LEGACY_CODE_PAGE)
    file(READ ${QD_MANIFEST} _manifest)
    string(REGEX REPLACE "[ ]*<activeCodePage[^\n]*</activeCodePage>\n" "" _legacy "${_manifest}")
    if(_legacy STREQUAL _manifest)
      message(FATAL_ERROR "LEGACY_CODE_PAGE: no activeCodePage element in ${QD_MANIFEST}")
    endif()
    set(QD_MANIFEST ${gen}/QuilletDownloader.manifest)
    file(WRITE ${QD_MANIFEST} "${_legacy}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/QuilletDownloader.manifest)
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/resources/BuildConfig.h.in ${gen}/BuildConfig.h @ONLY)

  set(exclude)
  if(A_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  add_executable(${target} WIN32 ${exclude}
    ${CMAKE_SOURCE_DIR}/app/Main_win.cpp
    ${CMAKE_SOURCE_DIR}/app/RuntimeThrowers_win.cpp
    ${CMAKE_SOURCE_DIR}/app/BuildValues.cpp
    ${CMAKE_SOURCE_DIR}/resources/QuilletDownloader.rc
    ${A_SOURCES})
  target_include_directories(${target} PRIVATE ${gen} ${CMAKE_SOURCE_DIR}/resources)
  if(A_UNHARDENED)
    # Ahead of the delay-load libraries, so these satisfy the imports.
    target_link_libraries(${target} PRIVATE ${QD_DELAY_LOADED})
  endif()
  target_link_libraries(${target} PRIVATE qd_app)
  if(A_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${A_OUTPUT_NAME})
  endif()
  set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/QuilletDownloader.rc PROPERTIES
    OBJECT_DEPENDS "${gen}/BuildConfig.h;${CMAKE_SOURCE_DIR}/resources/MAINICON.ico;${QD_MANIFEST}")
endfunction()

# The manifest names the processor: Windows does not start a program whose
# manifest names another, so the x86-64 build's says amd64.
set(QD_MANIFEST_OF_BUILD ${CMAKE_SOURCE_DIR}/resources/QuilletDownloader.manifest)
if(QD_WIN64)
  file(READ ${QD_MANIFEST_OF_BUILD} _manifest)
  string(REPLACE "processorArchitecture=\"x86\"" "processorArchitecture=\"amd64\"" _manifest "${_manifest}")
  set(QD_MANIFEST_OF_BUILD ${CMAKE_BINARY_DIR}/generated/QuilletDownloader.manifest)
  file(CONFIGURE OUTPUT ${QD_MANIFEST_OF_BUILD} CONTENT "${_manifest}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/QuilletDownloader.manifest)
endif()

set(QD_DEFAULT_HOST "${QD_DOWNLOAD_HOST}")
set(QD_DEFAULT_YEAR "${QD_PRODUCT_YEAR}")
set(QD_DEFAULT_SERIAL "${QD_SERIAL}")
set(QD_DEFAULT_VERSION "${QD_FILE_VERSION}")
set(QD_DEFAULT_SIGNER "${QD_EXPECTED_SIGNER}")

qd_add_downloader(QuilletDownloader)
add_custom_command(TARGET QuilletDownloader POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:QuilletDownloader> -P ${CMAKE_SOURCE_DIR}/cmake/PrintSize.cmake
  VERBATIM)

option(QD_BUILD_TESTS "Build the Wine-side tests" ON)
if(QD_BUILD_TESTS)
  add_subdirectory(tests)
endif()
