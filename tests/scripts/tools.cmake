# The unit tests call the preview tool's library and read the generated PPDs.
target_link_libraries(unit_tests PRIVATE dotweave_preview)
add_dependencies(unit_tests dotweave_ppds)
