# Web client: parsing and serialising a large result-like page.
find_package(LibXml2 REQUIRED)
add_executable(web_bench ${CMAKE_CURRENT_LIST_DIR}/web_bench.cpp)
target_link_libraries(web_bench PRIVATE tw_web LibXml2::LibXml2 benchmark::benchmark benchmark::benchmark_main)
