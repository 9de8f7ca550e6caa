# Locale-independent number formatting; included by this folder's CMakeLists.txt.
target_sources(maglyx_framework PRIVATE ${CMAKE_CURRENT_LIST_DIR}/format.cpp)
