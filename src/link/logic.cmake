# The link's pure logic (command frames, the one place for requests and replies); included by
# this folder's CMakeLists.txt.
target_sources(maglyx_program PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/command_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/meter_line.cpp)
