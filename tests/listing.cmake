qb_test(test_listing LABELS core SOURCES test_listing.cpp)
# Real-world listing lines (see data/listings/README.md for their sources).
target_compile_definitions(test_listing
                           PRIVATE QB_LISTING_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data/listings")
