# The cooperative layer: program lock, workers, timers, the dispatch boundary,
# desktop services and files; included by this folder's CMakeLists.txt.
target_sources(maglyx_framework PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/program_lock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/timer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/timer.h
  ${CMAKE_CURRENT_LIST_DIR}/coop_internal.h)
