# Kermit against C-Kermit and G-Kermit: run by hand (build/bin/kermit_bench [MB]).
add_executable(kermit_bench ${CMAKE_CURRENT_LIST_DIR}/kermit_bench.cpp
  ${CMAKE_SOURCE_DIR}/comm/transfer/tests/line_fixture.cpp)
target_include_directories(kermit_bench PRIVATE ${CMAKE_SOURCE_DIR}/comm/transfer/tests)
target_link_libraries(kermit_bench PRIVATE qelcomm6_transfer lt_testsupport Qt6::Core GTest::gtest)
