# XModem 1K and YModem against lrzsz: run by hand (build/bin/xymodem_bench [MB]).
add_executable(xymodem_bench ${CMAKE_CURRENT_LIST_DIR}/xymodem_bench.cpp
  ${CMAKE_SOURCE_DIR}/comm/transfer/tests/line_fixture.cpp)
target_include_directories(xymodem_bench PRIVATE ${CMAKE_SOURCE_DIR}/comm/transfer/tests)
target_link_libraries(xymodem_bench PRIVATE qelcomm6_transfer lt_testsupport Qt6::Core GTest::gtest)
