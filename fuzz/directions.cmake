# Fuzz target of directions/: the extraction of the directions text from any markup.
tarnwickley_add_fuzzer(directions_extraction_fuzz
  ${CMAKE_CURRENT_SOURCE_DIR}/directions_extraction_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/directions/directions_extraction.cpp)
target_include_directories(directions_extraction_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(directions_extraction_fuzz PRIVATE Qt6::Core)
