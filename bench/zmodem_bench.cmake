# ZModem against lrzsz: run by hand (build/bin/zmodem_bench [MB]).
add_executable(zmodem_bench ${CMAKE_CURRENT_LIST_DIR}/zmodem_bench.cpp
  ${CMAKE_SOURCE_DIR}/comm/transfer/tests/line_fixture.cpp)
target_include_directories(zmodem_bench PRIVATE ${CMAKE_SOURCE_DIR}/comm/transfer/tests)
target_link_libraries(zmodem_bench PRIVATE qelcomm6_transfer lt_testsupport Qt6::Core GTest::gtest)
