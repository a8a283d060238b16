# Fuzz targets of sync/: the SysInfo reader and version test, and the mountinfo
# parser with the drive table built on it. They compile the few sources they
# need rather than the whole window library.
tarnwickley_add_fuzzer(sync_sysinfo_fuzzer
  ${CMAKE_CURRENT_SOURCE_DIR}/sync_sysinfo_fuzzer.cpp
  ${CMAKE_SOURCE_DIR}/sync/sysinfo.cpp)
target_include_directories(sync_sysinfo_fuzzer PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(sync_sysinfo_fuzzer PRIVATE tw_settings)

tarnwickley_add_fuzzer(sync_mountinfo_fuzzer
  ${CMAKE_CURRENT_SOURCE_DIR}/sync_mountinfo_fuzzer.cpp
  ${CMAKE_SOURCE_DIR}/sync/mountinfo.cpp
  ${CMAKE_SOURCE_DIR}/sync/linux_drive_table.cpp
  ${CMAKE_SOURCE_DIR}/sync/drive_table.cpp)
target_include_directories(sync_mountinfo_fuzzer PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(sync_mountinfo_fuzzer PRIVATE Qt6::Core)
