# The history download's pure logic (reading the memory image, CSV export, file name);
# included by this folder's CMakeLists.txt.
target_sources(maglyx_program PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/history_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/history_csv.cpp
  ${CMAKE_CURRENT_LIST_DIR}/history_file_name.cpp)
