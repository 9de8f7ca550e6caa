target_sources(maglyx_framework PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/controls.cpp)
