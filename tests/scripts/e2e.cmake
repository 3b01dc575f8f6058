# End to end through a private CUPS scheduler: the installed filter and PPDs
# in real queues, jobs printed with lp, the device output decoded and checked.
add_executable(dotweave-e2e-compare ${CMAKE_CURRENT_SOURCE_DIR}/e2e/compare.cpp)
target_link_libraries(dotweave-e2e-compare PRIVATE PkgConfig::PNG)
target_compile_options(dotweave-e2e-compare PRIVATE ${DOTWEAVE_WARNINGS})

# Without model-name matching the OEM printers are recognised over USB only,
# so that build leaves out the queues recognised by name.
if(DOTWEAVE_USB_SERIAL_ONLY)
  set(DOTWEAVE_E2E_MODE usb-only)
else()
  set(DOTWEAVE_E2E_MODE all)
endif()
add_test(NAME e2e.cups
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/e2e/cups-e2e.sh ${CMAKE_BINARY_DIR}
                 $<TARGET_FILE:dotweave-e2e-compare> $<TARGET_FILE:dotweave-preview>
                 ${DOTWEAVE_E2E_MODE})
set_tests_properties(e2e.cups PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
