# The reply reader fed arbitrary byte streams split at arbitrary points, and
# the parsers of single replies.
qb_fuzzer(fuzz_replies fuzz_replies.cpp)
