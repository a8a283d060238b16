# The settings-file engine: random file bytes and random read, write and delete calls.
tarnwickley_add_fuzzer(settings_fuzz ${CMAKE_CURRENT_LIST_DIR}/settings_fuzz.cpp)
target_link_libraries(settings_fuzz PRIVATE tw_settings)
