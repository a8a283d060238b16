# Fuzz the directions service's request handling: any bytes as the four
# address fields, through the checks, the geocoder and the pages.
tarnwickley_add_fuzzer(tw_fuzz_service_query ${CMAKE_CURRENT_LIST_DIR}/service_query_fuzz.cpp)
target_link_libraries(tw_fuzz_service_query PRIVATE tw_service_server)
set_target_properties(tw_fuzz_service_query PROPERTIES AUTOMOC OFF AUTORCC OFF)
