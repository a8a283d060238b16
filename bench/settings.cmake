# Settings engine: reads and writes of a control.ini as the main window makes them.
add_executable(settings_bench ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp)
target_link_libraries(settings_bench PRIVATE tw_settings benchmark::benchmark benchmark::benchmark_main)
