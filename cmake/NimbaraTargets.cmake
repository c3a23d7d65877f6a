# Strict flags shared by every target of the project.
function(nimbara_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(NIMBARA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # Qt's string-cast guards: every conversion from a C string to QString is spelled out.
  target_compile_definitions(${target} PRIVATE QT_NO_CAST_FROM_ASCII QT_NO_URL_CAST_FROM_STRING
                                               QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
endfunction()

# A static library of one folder: nimbara_library(name SOURCES ... LIBS ...)
function(nimbara_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PUBLIC_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_LIBS})
  nimbara_target_defaults(${name})
endfunction()

# One QtTest program per unit: nimbara_add_test(name SOURCES ... LIBS ... [X11] [TIMEOUT s] [LABELS ...])
# Tests run offscreen unless they say X11; the X11 ones get the display that scripts/test.sh starts.
function(nimbara_add_test name)
  cmake_parse_arguments(ARG "X11" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  nimbara_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(env ${ARG_ENVIRONMENT})
  if(NOT ARG_X11)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}" LABELS "${ARG_LABELS}")
endfunction()

# Client code for a Wayland protocol description, from wayland-scanner, added to a C library:
# nimbara_wayland_protocol(target name xml) writes <name>-client-protocol.h and <name>-protocol.c
# into the target's binary folder, which joins its public include path.
function(nimbara_wayland_protocol target name xml)
  pkg_get_variable(scanner wayland-scanner wayland_scanner)
  if(NOT scanner)
    message(FATAL_ERROR "wayland-scanner is missing (Debian: libwayland-dev)")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/protocols)
  add_custom_command(
    OUTPUT ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${scanner} client-header ${xml} ${dir}/${name}-client-protocol.h
    COMMAND ${scanner} private-code ${xml} ${dir}/${name}-protocol.c
    DEPENDS ${xml}
    VERBATIM)
  target_sources(${target} PRIVATE ${dir}/${name}-client-protocol.h ${dir}/${name}-protocol.c)
  target_include_directories(${target} PUBLIC ${dir})
endfunction()
