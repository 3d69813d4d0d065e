# ZModem against lrzsz: run by hand (build/bin/zmodem_bench [MB]).
add_executable(zmodem_bench ${CMAKE_CURRENT_LIST_DIR}/zmodem_bench.cpp)
target_link_libraries(zmodem_bench PRIVATE qelcomm6_transfer lt_testsupport Qt6::Core)
