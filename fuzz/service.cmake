# Fuzz the directions service's request handling: any bytes as the four
# address fields, through the checks, the geocoder and the pages.
tarnwickley_add_fuzzer(tw_fuzz_service_query ${CMAKE_CURRENT_LIST_DIR}/service_query_fuzz.cpp)
target_link_libraries(tw_fuzz_service_query PRIVATE tw_service_server)
set_target_properties(tw_fuzz_service_query PROPERTIES AUTOMOC OFF AUTORCC OFF)

# Fuzz the service's HTTP request path: any bytes as a request to the real
# server on a loopback port.
tarnwickley_add_fuzzer(tw_fuzz_service_request ${CMAKE_CURRENT_LIST_DIR}/service_request_fuzz.cpp)
target_link_libraries(tw_fuzz_service_request PRIVATE tw_service_server)
set_target_properties(tw_fuzz_service_request PROPERTIES AUTOMOC OFF AUTORCC OFF)
