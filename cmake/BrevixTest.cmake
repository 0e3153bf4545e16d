# brevix_add_test(<name> SOURCES <files...> LIBS <libs...>)
# Builds one GoogleTest executable and registers its tests with CTest. Tests run with the
# build's bin/ folder in BREVIX_BIN_DIR so that process-level tests find the programs.
function(brevix_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "BREVIX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;BREVIX_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
               TIMEOUT 120)
endfunction()
