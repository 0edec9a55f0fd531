# Helpers shared by every folder of the project.

# Project code is built with every warning as an error.
function(mapd_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# mapd_library(NAME SOURCES... DEPS ...): a static library of the daemon with
# the repository's src/ folder as its include root.
function(mapd_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  mapd_warnings(${name})
endfunction()

# mapd_test(NAME SOURCES... DEPS ... [LOCK resource]): a GoogleTest binary whose
# cases are registered one by one with CTest.
function(mapd_test name)
  cmake_parse_arguments(ARG "" "LOCK" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${MAPD_TEST_BIN_DIR})
  mapd_warnings(${name})
  if(ARG_LOCK)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES RESOURCE_LOCK ${ARG_LOCK} TIMEOUT 300)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
