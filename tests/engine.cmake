qb_test(test_engine_units LABELS core SOURCES test_engine_units.cpp)
qb_test(test_engine_session LABELS threaded SOURCES test_engine_session.cpp)
qb_test(test_cli LABELS core SOURCES test_cli.cpp)
target_link_libraries(test_cli PRIVATE qb_cli)
