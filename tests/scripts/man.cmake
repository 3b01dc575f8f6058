# The manual pages format without warnings and stay in step with the models.
add_test(NAME man.pages
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-man.sh ${CMAKE_SOURCE_DIR} ${DOTWEAVE_PPD_DIR})
set_tests_properties(man.pages PROPERTIES LABELS man TIMEOUT 60)
