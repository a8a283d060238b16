# Map generator: time to write the sample town and synthetic regions of
# increasing size (junctions per second, peak memory is reported by the program).
add_executable(bench_service_generator ${CMAKE_CURRENT_LIST_DIR}/service_generator_bench.cpp)
target_link_libraries(bench_service_generator PRIVATE tw_service_generator benchmark::benchmark)
set_target_properties(bench_service_generator PROPERTIES AUTOMOC OFF AUTORCC OFF)
