qb_fuzzer(fuzz_profile fuzz_profile.cpp)
target_link_libraries(fuzz_profile PRIVATE qb_profile)
