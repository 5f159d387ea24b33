# Local copies against cp.
add_executable(bench_localfs bench_localfs.cpp)
target_link_libraries(bench_localfs PRIVATE qb_localfs benchmark::benchmark_main)
