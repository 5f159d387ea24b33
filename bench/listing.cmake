# Folder listing parsers over large generated listings.
add_executable(bench_listing bench_listing.cpp)
target_link_libraries(bench_listing PRIVATE qb_ftp benchmark::benchmark_main)
