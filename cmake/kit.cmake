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

# kit_add_library(NAME [SHARED|STATIC] SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# A component library whose public headers live in its include/ folder.
function(kit_add_library name)
  cmake_parse_arguments(ARG "SHARED;STATIC;MODULE" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  set(kind STATIC)
  if(ARG_SHARED)
    set(kind SHARED)
  elseif(ARG_MODULE)
    set(kind MODULE)
  endif()
  add_library(${name} ${kind} ${ARG_SOURCES})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  kit_target_options(${name})
  if(NOT kind STREQUAL "STATIC")
    install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endfunction()

# kit_add_program(NAME SOURCES ... [DEPS ...]): an installed command-line or UI program.
function(kit_add_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  kit_target_options(${name})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
