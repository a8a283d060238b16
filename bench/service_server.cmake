# Directions service end to end over loopback HTTP: route latency p50/p99 for
# random address pairs and /dd_result requests per second, on the sample town
# and the generated million-junction region.
add_executable(tw_bench_service_server ${CMAKE_CURRENT_LIST_DIR}/service_server_latency.cpp)
# On the service's allocator, as the service runs.
target_link_libraries(tw_bench_service_server PRIVATE tw_service_server tw_service_generator benchmark::benchmark
                                              PkgConfig::JEMALLOC)
target_compile_definitions(tw_bench_service_server PRIVATE
  TW_SAMPLE_MAP_PATH="${CMAKE_BINARY_DIR}/service/sample-town.osm.pbf")
set_target_properties(tw_bench_service_server PROPERTIES AUTOMOC OFF AUTORCC OFF)
