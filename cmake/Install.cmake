# Installation into CUPS: the filter goes into CUPS's filter directory and the
# PPD files into a "dotweave" folder of its model directory, where
# `lpinfo -m` lists them and `lpadmin -m dotweave/<file>.ppd` finds them.
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

install(TARGETS dotweave RUNTIME DESTINATION ${DOTWEAVE_CUPS_SERVERBIN}/filter
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
install(DIRECTORY ${DOTWEAVE_PPD_DIR}/ DESTINATION ${DOTWEAVE_CUPS_DATADIR}/model/dotweave
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        FILES_MATCHING PATTERN "*.ppd")
install(TARGETS dotweave-preview RUNTIME DESTINATION bin)
