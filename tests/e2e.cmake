# End-to-end tests of qbftp against the FTP servers scripts/test starts.
add_test(NAME qbftp_e2e COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_qbftp.py
                                $<TARGET_FILE:qbftp>)
set_tests_properties(qbftp_e2e PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 600)
