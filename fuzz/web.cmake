# Fuzz target of directions/web/: parse any bytes as a page, write its markup,
# build every form's submission, and parse the bytes as an address. Compiles
# the document sources itself so they carry the fuzzer's coverage
# instrumentation.
find_package(LibXml2 REQUIRED)
tarnwickley_add_fuzzer(web_parse_fuzz
  ${CMAKE_CURRENT_SOURCE_DIR}/web_parse_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/charset.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/form_submission.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/html_document.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/html_element.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/html_node.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/html_parser.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/input_value.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/markup_writer.cpp
  ${CMAKE_SOURCE_DIR}/directions/web/url_parser.cpp)
target_include_directories(web_parse_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(web_parse_fuzz PRIVATE tw_settings Qt6::Core Qt6::Gui Qt6::Network LibXml2::LibXml2)
