# The printer application: its settings table in process, and whole jobs
# through a private dotweave-app server (file: devices in a temporary state
# directory, a free loopback port).
file(GLOB APP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/app_*.cpp)
add_executable(app_tests ${APP_TEST_SOURCES})
target_link_libraries(app_tests PRIVATE dotweave_testsupport dotweave_app_settings PkgConfig::PNG z GTest::gtest_main)
target_include_directories(app_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(app_tests PRIVATE ${DOTWEAVE_WARNINGS})
target_compile_definitions(app_tests PRIVATE DOTWEAVE_APP_BINARY="$<TARGET_FILE:dotweave-app>")
add_dependencies(app_tests dotweave-app dotweave_ppds)
gtest_discover_tests(app_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS app TIMEOUT 300)

# CUPS's ipptool conformance suites against a private server with a label,
# a thermal and a needle printer.
add_test(NAME app.ipptool
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/app/ipptool-conformance.sh $<TARGET_FILE:dotweave-app>
                 $<TARGET_FILE:dotweave>)
set_tests_properties(app.ipptool PROPERTIES LABELS app TIMEOUT 300 RUN_SERIAL TRUE)
