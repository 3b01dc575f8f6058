# The printer application: its settings table in process, and whole jobs
# through a private dotweave-app server (file: devices in a temporary state
# directory, a free loopback port).
file(GLOB APP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/app_*.cpp)
add_executable(app_tests ${APP_TEST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/app/sim_printer.cpp)
target_link_libraries(app_tests PRIVATE dotweave_testsupport dotweave_app_settings dotweave_app_bridge dotweave_app_status
                      PkgConfig::PNG z GTest::gtest_main)
target_include_directories(app_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(app_tests PRIVATE ${DOTWEAVE_WARNINGS})
target_compile_definitions(app_tests PRIVATE DOTWEAVE_APP_BINARY="$<TARGET_FILE:dotweave-app>")
add_dependencies(app_tests dotweave-app dotweave_ppds)
gtest_discover_tests(app_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS app TIMEOUT 300)

# Plug-and-play driver matching: tables of device IDs and USB ids, and the
# auto-add callback over USB devices faked by umockdev (through the probe).
add_executable(autoadd_probe ${CMAKE_SOURCE_DIR}/tests/app/autoadd_probe.cpp)
target_link_libraries(autoadd_probe PRIVATE dotweave_app_autoadd)
target_compile_options(autoadd_probe PRIVATE ${DOTWEAVE_WARNINGS})
add_executable(app_autoadd_tests ${CMAKE_SOURCE_DIR}/tests/app/autoadd_test.cpp)
target_link_libraries(app_autoadd_tests PRIVATE dotweave_app_autoadd dotweave_testsupport GTest::gtest_main)
target_include_directories(app_autoadd_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(app_autoadd_tests PRIVATE ${DOTWEAVE_WARNINGS})
target_compile_definitions(app_autoadd_tests PRIVATE DOTWEAVE_AUTOADD_PROBE="$<TARGET_FILE:autoadd_probe>")
add_dependencies(app_autoadd_tests autoadd_probe)
gtest_discover_tests(app_autoadd_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "unit;app")

# The application adding the maker's USB printer by the ids of the device
# with its serial, over the USB devices umockdev fakes.
add_test(NAME app.autoadd.umockdev
         COMMAND umockdev-run --device ${CMAKE_SOURCE_DIR}/tests/fixtures/umockdev/kv412a.umockdev --
                 $<TARGET_FILE:app_tests> --gtest_filter=AppAutoAdd.MakersUsbPrinterByTheIdsOfTheDeviceWithItsSerial)
set_tests_properties(app.autoadd.umockdev PROPERTIES LABELS app TIMEOUT 120)

# CUPS's ipptool conformance suites against a private server with a label,
# a thermal and a needle printer.
add_test(NAME app.ipptool
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/app/ipptool-conformance.sh $<TARGET_FILE:dotweave-app>
                 $<TARGET_FILE:dotweave>)
set_tests_properties(app.ipptool PROPERTIES LABELS app TIMEOUT 600 RUN_SERIAL TRUE)

# Remote administration and file: devices, tried from another address in a
# network namespace of the test's own, against a server run as a user of its
# own (root needed; skipped otherwise).
add_test(NAME app.security.netns
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/app/security-netns.sh $<TARGET_FILE:dotweave-app>
                 $<TARGET_FILE:dotweave>)
set_tests_properties(app.security.netns PROPERTIES LABELS app SKIP_RETURN_CODE 77 TIMEOUT 180 RUN_SERIAL TRUE)

# Which file: device URIs a printer may have, on real directories and links.
add_executable(app_device_policy_tests ${CMAKE_SOURCE_DIR}/tests/app/device_policy_test.cpp)
target_link_libraries(app_device_policy_tests PRIVATE dotweave_app_device_policy dotweave_testsupport GTest::gtest_main)
target_include_directories(app_device_policy_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(app_device_policy_tests PRIVATE ${DOTWEAVE_WARNINGS})
gtest_discover_tests(app_device_policy_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "unit;app")

# DNS-SD announcements of printers loaded, added (IPP and web), renamed and
# deleted, in a network namespace of the test's own with a private dbus and
# avahi-daemon; skipped where avahi-daemon or namespaces are missing.
add_test(NAME app.dnssd
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/app/dnssd-namespace.sh $<TARGET_FILE:dotweave-app> $<TARGET_FILE:dotweave>)
set_tests_properties(app.dnssd PROPERTIES LABELS app TIMEOUT 180 SKIP_RETURN_CODE 77)

# The whole server under load (tests/app/soak_test.cpp); the sanitizer and
# ThreadSanitizer builds run it with fewer jobs.
add_executable(app_soak_tests ${CMAKE_SOURCE_DIR}/tests/app/soak_test.cpp ${CMAKE_SOURCE_DIR}/tests/app/app_server.cpp)
target_link_libraries(app_soak_tests PRIVATE dotweave_testsupport PkgConfig::PNG z GTest::gtest_main)
target_include_directories(app_soak_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(app_soak_tests PRIVATE ${DOTWEAVE_WARNINGS})
target_compile_definitions(app_soak_tests PRIVATE DOTWEAVE_APP_BINARY="$<TARGET_FILE:dotweave-app>")
add_dependencies(app_soak_tests dotweave-app dotweave-image dotweave_ppds)
# About 40 s in the normal build and 80 s (200 jobs) in the sanitizer build;
# run alone, as it measures the server's memory and threads.
add_test(NAME app.soak COMMAND app_soak_tests)
set_tests_properties(app.soak PROPERTIES LABELS app TIMEOUT 600 RUN_SERIAL TRUE)
if(DOTWEAVE_SANITIZE)
  set_tests_properties(app.soak PROPERTIES ENVIRONMENT DOTWEAVE_SOAK_JOBS=200)
endif()
