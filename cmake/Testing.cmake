# tarnwickley_add_test(NAME name LABEL folder SOURCES ... LIBRARIES ... [QT])
# One executable per test group, run by CTest with the folder as its label.
# GoogleTest groups link gtest_main; QT groups are QtTest programs with their own main.
# Every test runs with the offscreen platform and knows where the shared fixtures are.
function(tarnwickley_add_test)
  cmake_parse_arguments(T "QT" "NAME;LABEL;TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES})
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    TW_FIXTURES_DIR="${TARNWICKLEY_FIXTURES_DIR}"
    TW_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TW_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABEL}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TW_FIXTURES_DIR=${TARNWICKLEY_FIXTURES_DIR}")
endfunction()

find_package(GTest REQUIRED)
