# Fuzz target of service/map/: the OpenStreetMap importer on any XML bytes.
tarnwickley_add_fuzzer(service_map_import_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/service_map_import_fuzz.cpp)
target_link_libraries(service_map_import_fuzz PRIVATE tw_service_map)
# The prepared map loader (mapped file, contraction hierarchy) on any bytes.
tarnwickley_add_fuzzer(service_map_prepared_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/service_map_prepared_fuzz.cpp)
target_link_libraries(service_map_prepared_fuzz PRIVATE tw_service_routing)
# The map cache loader (mapped file, map checks, the geocoder's street lists) on any bytes.
tarnwickley_add_fuzzer(service_map_cache_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/service_map_cache_fuzz.cpp)
target_link_libraries(service_map_cache_fuzz PRIVATE tw_service_geocoder)
# A start from a prepared file with one section replaced: the turn model's
# facts, the road grid and the hierarchy as the router takes them back.
tarnwickley_add_fuzzer(service_routing_start_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/service_routing_start_fuzz.cpp)
target_link_libraries(service_routing_start_fuzz PRIVATE tw_service_routing)
