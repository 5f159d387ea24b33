# Local file operations and application services.
qb_test(test_localfs LABELS threaded SOURCES test_localfs.cpp)
target_link_libraries(test_localfs PRIVATE qb_localfs qb_app)

qb_test(test_localfs_support LABELS core SOURCES test_localfs_support.cpp)
target_link_libraries(test_localfs_support PRIVATE qb_localfs qb_app)

qb_test(test_app LABELS threaded SOURCES test_app.cpp)
target_link_libraries(test_app PRIVATE qb_localfs qb_app)

qb_test(test_app_core LABELS threaded SOURCES test_app_core.cpp)
target_link_libraries(test_app_core PRIVATE qb_app qb_profile)
