# The CGI program of the engine's process-level tests (build/bin/engine_test_cgi).
add_executable(engine_test_cgi ${CMAKE_CURRENT_SOURCE_DIR}/engine_test_cgi.cpp)
target_link_libraries(engine_test_cgi PRIVATE engine)
target_include_directories(engine_test_cgi PRIVATE ${CMAKE_SOURCE_DIR}/src)
if(TARGET engine_tests)
  add_dependencies(engine_tests engine_test_cgi)
endif()
if(TARGET upload_tests)
  add_dependencies(upload_tests engine_test_cgi)
endif()

# The watchdog test waits about 30 seconds: its own CTest entry, labelled "slow" so that it can
# be left out (ctest -LE slow), e.g. of the sanitizer run.
if(TARGET engine_tests)
  add_test(NAME engine_slow_watchdog
    COMMAND engine_tests --gtest_filter=CgiSlowTest.*)
  set_tests_properties(engine_slow_watchdog PROPERTIES
    LABELS slow
    TIMEOUT 300
    ENVIRONMENT "BREVIX_RUN_SLOW=1;BREVIX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;BREVIX_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endif()
