# brevix_add_test(<name> SOURCES <files...> LIBS <libs...>)
# Builds one GoogleTest executable and registers its tests with CTest. Tests run with the
# build's bin/ folder in BREVIX_BIN_DIR so that process-level tests find the programs; the
# source folder is compiled in as BREVIX_SOURCE_DIR (a second ENVIRONMENT entry would not
# survive gtest_discover_tests' property lists).
function(brevix_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE BREVIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "BREVIX_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
               TIMEOUT 120)
endfunction()
