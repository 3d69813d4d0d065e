# ZModem: the line format and the byte-fed sender and receiver.
target_sources(qelcomm6_transfer PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/zmodem_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zmodem.cpp)

lintrel_add_gtest(transfer_zmodem_line_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/line_fixture.cpp ${CMAKE_CURRENT_LIST_DIR}/tests/zmodem_interop_test.cpp
  LIBS qelcomm6_transfer Qt6::Core)
