# The printer application's serial and Bluetooth devices (app/serial/):
# the "serial:" URI parser, the port, the port listing and the PAPPL device
# scheme, as a library that the application and its tests link.
pkg_check_modules(PAPPL REQUIRED IMPORTED_TARGET pappl)
find_package(Threads REQUIRED)

file(GLOB DOTWEAVE_SERIAL_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/serial/serial.cpp
  ${CMAKE_SOURCE_DIR}/app/serial/serial_*.cpp)
add_library(dotweave_serial STATIC ${DOTWEAVE_SERIAL_SOURCES})
target_include_directories(dotweave_serial PUBLIC ${CMAKE_SOURCE_DIR}/app/serial)
target_compile_options(dotweave_serial PRIVATE ${DOTWEAVE_WARNINGS})
target_link_libraries(dotweave_serial PUBLIC PkgConfig::PAPPL Threads::Threads)
