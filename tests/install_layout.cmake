# cmake --install into a scratch folder: the program beside its help file, the
# link in bin/, the CLI, the desktop entry and its icon.
file(REMOVE_RECURSE ${DEST})
set(ENV{DESTDIR} ${DEST})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
set(files lib/tranchette/tranchette bin/tranchette bin/tranchette-cli share/man/man1/tranchette-cli.1
          share/applications/tranchette.desktop
          share/icons/hicolor/64x64/apps/tranchette.png)
if(WITH_HELP)  # built where scripts/setup could fetch the help compiler
  list(APPEND files lib/tranchette/help.chm)
endif()
foreach(f ${files})
  if(NOT EXISTS ${DEST}/usr/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(READ ${DEST}/usr/share/applications/tranchette.desktop entry)
if(NOT entry MATCHES "Exec=tranchette\n" OR NOT entry MATCHES "Icon=tranchette\n")
  message(FATAL_ERROR "the desktop entry does not start the program with its icon")
endif()
execute_process(COMMAND ${DEST}/usr/bin/tranchette-cli --help RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed tranchette-cli does not run")
endif()
message(STATUS "1 passed, 0 failed")
