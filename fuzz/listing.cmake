# Whole listings for every server type; seeds in corpus/fuzz_listing.
qb_fuzzer(fuzz_listing fuzz_listing.cpp)
# MLSD listings; seeds in corpus/fuzz_mlsd.
qb_fuzzer(fuzz_mlsd fuzz_mlsd.cpp)
