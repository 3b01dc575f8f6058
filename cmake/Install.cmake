# Installation into CUPS: the filter goes into CUPS's filter directory and the
# PPD files into a "dotweave" folder of its model directory, where
# `lpinfo -m` lists them and `lpadmin -m dotweave/<file>.ppd` finds them;
# dotweave-preview into bin and the manual pages into share/man. Each rule
# names its component, which the Debian package (Package.cmake) picks from.
#
# CUPS's directories are asked from cups-config. Those under /usr are kept
# relative to the install prefix, and the prefix defaults to /usr, so that
#   cmake --install build                      installs where CUPS looks,
#   cmake --install build --prefix /tmp/x      stages the same tree in /tmp/x,
#   DESTDIR=/tmp/d cmake --install build       stages it under /tmp/d/usr.
# DOTWEAVE_CUPS_SERVERBIN and DOTWEAVE_CUPS_DATADIR override the directories
# (an absolute path ignores the prefix but still honours DESTDIR).

find_program(CUPS_CONFIG_EXECUTABLE cups-config)

function(dotweave_cups_dir option fallback out)
  set(dir ${fallback})
  if(CUPS_CONFIG_EXECUTABLE)
    execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} ${option}
                    OUTPUT_VARIABLE asked OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE status ERROR_QUIET)
    if(status EQUAL 0 AND asked)
      set(dir ${asked})
    endif()
  endif()
  string(REGEX REPLACE "^/usr/" "" dir "${dir}")
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix (CUPS looks under /usr)" FORCE)
endif()

dotweave_cups_dir(--serverbin /usr/lib/cups DOTWEAVE_DEFAULT_SERVERBIN)
dotweave_cups_dir(--datadir /usr/share/cups DOTWEAVE_DEFAULT_DATADIR)
set(DOTWEAVE_CUPS_SERVERBIN ${DOTWEAVE_DEFAULT_SERVERBIN} CACHE STRING
    "CUPS server binary directory (filters go into its filter folder); relative to the prefix unless absolute")
set(DOTWEAVE_CUPS_DATADIR ${DOTWEAVE_DEFAULT_DATADIR} CACHE STRING
    "CUPS data directory (PPDs go into model/dotweave); relative to the prefix unless absolute")

install(TARGETS dotweave RUNTIME DESTINATION ${DOTWEAVE_CUPS_SERVERBIN}/filter COMPONENT filter
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
install(DIRECTORY ${DOTWEAVE_PPD_DIR}/ DESTINATION ${DOTWEAVE_CUPS_DATADIR}/model/dotweave
        COMPONENT cups-model
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        FILES_MATCHING PATTERN "*.ppd")
install(TARGETS dotweave-preview RUNTIME DESTINATION bin COMPONENT preview)

# Manual pages: every man/<name>.<section> goes compressed into
# share/man/man<section>; a new page needs no more than its file.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
file(GLOB DOTWEAVE_MAN_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/man/*.[1-9])
set(DOTWEAVE_MAN_OUTPUTS "")
foreach(page ${DOTWEAVE_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*[.]([1-9])$" "\\1" section ${name})
  set(copy ${CMAKE_BINARY_DIR}/man/${name})
  # gzip -n keeps the file's name and time out of the archive, so that the
  # same page always compresses to the same bytes.
  add_custom_command(OUTPUT ${copy}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${page} ${copy}
                     COMMAND ${GZIP_EXECUTABLE} -9nf ${copy}
                     DEPENDS ${page} VERBATIM)
  list(APPEND DOTWEAVE_MAN_OUTPUTS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION share/man/man${section} COMPONENT man
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
add_custom_target(dotweave_man ALL DEPENDS ${DOTWEAVE_MAN_OUTPUTS})

# The Debian package (cpack): its own PPD location and documents.
include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
