# The serial line on POSIX termios, and the port listing; included by this folder's CMakeLists.txt.
target_sources(maglyx_framework PRIVATE ${CMAKE_CURRENT_LIST_DIR}/serial.cpp
                                        ${CMAKE_CURRENT_LIST_DIR}/serial_ports.cpp)
