# Kermit: packets and the protocol machine in the transfer library, its
# registration with the engine, table and line tests, and a fuzz target.
set(KERMIT_DIR ${CMAKE_CURRENT_LIST_DIR})
target_sources(qelcomm6_transfer PRIVATE
  ${KERMIT_DIR}/kermit_packet.cpp
  ${KERMIT_DIR}/kermit.cpp
  ${KERMIT_DIR}/kermit_register.cpp)

lintrel_add_gtest(kermit_protocol_tests
  SOURCES ${KERMIT_DIR}/tests/kermit_protocol_test.cpp
  LIBS qelcomm6_transfer)

lintrel_add_gtest(kermit_line_tests
  SOURCES ${KERMIT_DIR}/tests/line_fixture.cpp ${KERMIT_DIR}/tests/kermit_interop_test.cpp
  LIBS qelcomm6_transfer Qt6::Core)

# The receiver under libFuzzer with AddressSanitizer and UBSan, run briefly.
add_test(NAME kermit_receiver_fuzz
  COMMAND sh ${KERMIT_DIR}/fuzz/kermit_fuzz.sh ${KERMIT_DIR} ${CMAKE_CURRENT_BINARY_DIR}/kermit_fuzz 15)
set_tests_properties(kermit_receiver_fuzz PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240)
