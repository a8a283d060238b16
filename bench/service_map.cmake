# Import time and peak memory of a million-junction map.
add_executable(tw_bench_service_map ${CMAKE_CURRENT_LIST_DIR}/service_map_import.cpp)
target_link_libraries(tw_bench_service_map PRIVATE tw_service_map tw_service_generator benchmark::benchmark)
set_target_properties(tw_bench_service_map PROPERTIES AUTOMOC OFF AUTORCC OFF)
