# Benchmarks of directions/: the extraction's throughput, the time and the
# resident memory from starting the program to the main window's entry state, and
# the wait from the "Search" click to the directions shown.
add_executable(directions_extraction_bench ${CMAKE_CURRENT_SOURCE_DIR}/directions_extraction_bench.cpp)
target_link_libraries(directions_extraction_bench PRIVATE tw_directions benchmark::benchmark)

add_executable(directions_startup_bench ${CMAKE_CURRENT_SOURCE_DIR}/directions_startup_bench.cpp)
target_link_libraries(directions_startup_bench PRIVATE tw_directions Qt6::Network benchmark::benchmark)

# From the "Search" click to the directions shown, against the real service.
add_executable(directions_search_bench ${CMAKE_CURRENT_SOURCE_DIR}/directions_search_bench.cpp)
target_link_libraries(directions_search_bench PRIVATE tw_directions)
target_compile_definitions(directions_search_bench PRIVATE TW_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(directions_search_bench tarnwickley-directions)
