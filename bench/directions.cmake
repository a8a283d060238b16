# Benchmarks of directions/: the extraction's throughput, and the time and the
# resident memory from starting the program to the main window's entry state.
add_executable(directions_extraction_bench ${CMAKE_CURRENT_SOURCE_DIR}/directions_extraction_bench.cpp)
target_link_libraries(directions_extraction_bench PRIVATE tw_directions benchmark::benchmark)

add_executable(directions_startup_bench ${CMAKE_CURRENT_SOURCE_DIR}/directions_startup_bench.cpp)
target_link_libraries(directions_startup_bench PRIVATE tw_directions Qt6::Network benchmark::benchmark)
