# Every generated PPD, installed with the filter into a staging directory,
# passes cupstestppd without errors.
add_test(NAME ppd.cupstestppd
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-ppds.sh ${CMAKE_BINARY_DIR})
set_tests_properties(ppd.cupstestppd PROPERTIES LABELS ppd TIMEOUT 120)
