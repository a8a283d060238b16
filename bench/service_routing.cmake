# Router latency (p50/p99) on the sample town and the generated million-junction region.
add_executable(tw_bench_service_routing ${CMAKE_CURRENT_LIST_DIR}/service_routing_latency.cpp)
target_link_libraries(tw_bench_service_routing PRIVATE tw_service_routing tw_service_generator benchmark::benchmark)
target_compile_definitions(tw_bench_service_routing PRIVATE
  TW_SAMPLE_MAP_PATH="${CMAKE_BINARY_DIR}/service/sample-town.osm.pbf")
set_target_properties(tw_bench_service_routing PROPERTIES AUTOMOC OFF AUTORCC OFF)

# Contraction of a map's turn graph alone: preparation time, size, bare query time.
add_executable(tw_bench_service_contraction ${CMAKE_CURRENT_LIST_DIR}/service_contraction.cpp)
target_link_libraries(tw_bench_service_contraction PRIVATE tw_service_routing)
set_target_properties(tw_bench_service_contraction PROPERTIES AUTOMOC OFF AUTORCC OFF)
