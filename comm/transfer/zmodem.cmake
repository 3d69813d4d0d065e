# ZModem: the line format and the byte-fed sender and receiver.
target_sources(qelcomm6_transfer PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/zmodem_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zmodem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zmodem_register.cpp)

lintrel_add_gtest(transfer_zmodem_line_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/line_fixture.cpp ${CMAKE_CURRENT_LIST_DIR}/tests/zmodem_interop_test.cpp
  LIBS qelcomm6_transfer Qt6::Core)

lintrel_add_gtest(transfer_zmodem_protocol_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/zmodem_protocol_test.cpp
  LIBS qelcomm6_transfer)

# The receiver under libFuzzer with AddressSanitizer and UBSan, run briefly.
add_test(NAME zmodem_receiver_fuzz
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/fuzz/zmodem_fuzz.sh ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_BINARY_DIR}/zmodem_fuzz 15)
set_tests_properties(zmodem_receiver_fuzz PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240)
