# Build helpers shared by every component: warnings, sanitizers, tests.

# Applies the kit's warning and sanitizer flags to a target.
function(kit_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O2/-O3 reports `"x" + std::string(...)` as an overlapping copy (GCC bug 105329).
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(KIT_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# Where installed libraries go. The public folder holds only the client library of the developer
# package (versioned soname); the kit's other shared libraries and its in-process server libraries
# are private to the kit and live in lib/poskit/, found through the programs' and libraries' RPATHs.
set(KIT_INSTALL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/poskit)

# kit_add_library(NAME [SHARED|STATIC|MODULE] [PUBLIC_LIBRARY OUTPUT_NAME NAME EXPORT_NAME NAME]
#                 [PACKAGE_DEPENDENCY] SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# A component library whose public headers live in its include/ folder. A shared or module
# library is installed into the private folder lib/poskit/. PUBLIC_LIBRARY (shared only) makes it
# part of the developer package instead: installed into lib/ with the project's version as its
# soname version, and exported as poskit::EXPORT_NAME by find_package(poskit CONFIG).
function(kit_add_library name)
  cmake_parse_arguments(ARG "SHARED;STATIC;MODULE;PUBLIC_LIBRARY;PACKAGE_DEPENDENCY" "OUTPUT_NAME;EXPORT_NAME"
                        "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  set(kind STATIC)
  if(ARG_SHARED)
    set(kind SHARED)
  elseif(ARG_MODULE)
    set(kind MODULE)
  endif()
  add_library(${name} ${kind} ${ARG_SOURCES})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  kit_target_options(${name})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  if(ARG_PUBLIC_LIBRARY)
    if(NOT kind STREQUAL "SHARED")
      message(FATAL_ERROR "kit_add_library(${name}): PUBLIC_LIBRARY needs SHARED")
    endif()
    if(ARG_EXPORT_NAME)
      set_target_properties(${name} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
    endif()
    # The public library finds the kit's private libraries (the message layer) below it.
    set_target_properties(${name} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
      INSTALL_RPATH "$ORIGIN/poskit")
    install(TARGETS ${name} EXPORT poskitTargets
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  elseif(NOT kind STREQUAL "STATIC")
    # Private libraries find each other beside themselves.
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    if(ARG_PACKAGE_DEPENDENCY)
      install(TARGETS ${name} EXPORT poskitTargets LIBRARY DESTINATION ${KIT_INSTALL_PRIVATE_LIBDIR})
    else()
      install(TARGETS ${name} LIBRARY DESTINATION ${KIT_INSTALL_PRIVATE_LIBDIR})
    endif()
  endif()
endfunction()

# kit_add_program(NAME SOURCES ... [DEPS ...] [MANUAL "one-line summary"]): an installed
# command-line or UI program. MANUAL makes its man page (section 1) from its --help and
# --version with help2man, when help2man is installed; the program must then answer both
# without a display (see platform/cli).
function(kit_add_program name)
  cmake_parse_arguments(ARG "" "MANUAL" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  kit_target_options(${name})
  set_target_properties(${name} PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${KIT_INSTALL_PRIVATE_LIBDIR};$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(ARG_MANUAL)
    # At the end of the folder, once a later OUTPUT_NAME is known (the page is named after it).
    cmake_language(EVAL CODE "cmake_language(DEFER CALL _kit_program_manual [[${name}]] [[${ARG_MANUAL}]])")
  endif()
endfunction()

function(_kit_program_manual name summary)
  get_target_property(page ${name} OUTPUT_NAME)
  if(NOT page)
    set(page ${name})
  endif()
  kit_add_manual(${name} "$<TARGET_FILE:${name}>" ${page} "${summary}" DEPENDS ${name})
endfunction()

# kit_add_manual(TARGET_NAME PROGRAM PAGE_NAME SUMMARY [DEPENDS ...]): the man page PAGE_NAME.1
# of PROGRAM made by help2man (skipped with a note when help2man is missing), installed into
# share/man/man1.
find_program(KIT_HELP2MAN help2man)
function(kit_add_manual target program page summary)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  if(NOT KIT_HELP2MAN OR KIT_SANITIZE OR KIT_FUZZ)
    return()
  endif()
  set(page_file ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  add_custom_command(OUTPUT ${page_file}
    COMMAND ${KIT_HELP2MAN} --no-info --section=1 --name=${summary} --output=${page_file} ${program}
    DEPENDS ${ARG_DEPENDS}
    COMMENT "Making the man page of ${target}"
    VERBATIM)
  add_custom_target(${target}_manual ALL DEPENDS ${page_file})
  install(FILES ${page_file} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# kit_add_test(NAME SOURCES ... [DEPS ...]): a GoogleTest executable registered with ctest.
# Tests run with a private registry directory so they never touch the user's own.
function(kit_add_test name)
  if(NOT KIT_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  kit_target_options(${name})
  gtest_discover_tests(${name}
    PROPERTIES TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "OPOS_REGISTRY_DIR=${CMAKE_CURRENT_BINARY_DIR}/${name}.registry"
    DISCOVERY_TIMEOUT 30)
endfunction()
