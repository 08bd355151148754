# Executables built with a compiler other than the tree's (the fuzzers with
# clang, the Wine-side unit tests with the posix-threads MinGW-w64).

# qd_direct_objects(<var> <dir> COMPILER <c++> FLAGS <flag>... SOURCES <file>...)
# Compiles each source into <dir>/<file name>.o and sets <var> to the objects.
# Each object records the headers its source included, so touching any of
# them rebuilds it.
function(qd_direct_objects var dir)
  cmake_parse_arguments(A "" "COMPILER" "FLAGS;SOURCES" ${ARGN})
  set(objects)
  foreach(src ${A_SOURCES})
    get_filename_component(name ${src} NAME)
    set(obj ${dir}/${name}.o)
    add_custom_command(OUTPUT ${obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${A_COMPILER} ${A_FLAGS} -MMD -MF ${obj}.d -c ${src} -o ${obj}
      DEPENDS ${src}
      DEPFILE ${obj}.d
      VERBATIM)
    list(APPEND objects ${obj})
  endforeach()
  set(${var} ${objects} PARENT_SCOPE)
endfunction()

# qd_direct_executable(<output> COMPILER <c++> FLAGS <flag>... SOURCES <file>...
#                      [OBJECTS <object>...] [LINK_FLAGS <flag>...])
# Links <output> from its sources (compiled under <output>.o/) and from
# OBJECTS that an earlier qd_direct_objects built.
function(qd_direct_executable output)
  cmake_parse_arguments(A "" "COMPILER" "FLAGS;SOURCES;OBJECTS;LINK_FLAGS" ${ARGN})
  qd_direct_objects(objects ${output}.o COMPILER ${A_COMPILER} FLAGS ${A_FLAGS} SOURCES ${A_SOURCES})
  get_filename_component(name ${output} NAME)
  add_custom_command(OUTPUT ${output}
    COMMAND ${A_COMPILER} ${A_FLAGS} ${objects} ${A_OBJECTS} ${A_LINK_FLAGS} -o ${output}
    DEPENDS ${objects} ${A_OBJECTS}
    COMMENT "Linking ${name}"
    VERBATIM)
endfunction()
