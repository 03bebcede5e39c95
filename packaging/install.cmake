# What `make install` (PREFIX, DESTDIR) and the Debian packages install: the
# programs, their man pages (generated from docs/man/*.scd with scdoc), the
# systemd unit with the event log's logrotate entry, kestrel-admin's bash
# completion, and (packaging/desktop) the desktop entries and icons.
include(GNUInstallDirs)

# Programs that this build has.
foreach(program kestreld kestrel-admin kestrel-sff kestrel jotter)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Man pages: NAME.SECTION.scd -> NAME.SECTION, at build time.
find_program(SCDOC scdoc)
if(SCDOC)
  file(GLOB KESTREL_MAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
  set(KESTREL_MAN_PAGES)
  foreach(source ${KESTREL_MAN_SOURCES})
    get_filename_component(page ${source} NAME_WLE)
    string(REGEX REPLACE "^(.*)\\.([0-9])$" "\\1" name ${page})
    string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${page})
    # A desktop program's page only with the program.
    if((name STREQUAL "kestrel" OR name STREQUAL "jotter") AND NOT TARGET ${name})
      continue()
    endif()
    set(output ${CMAKE_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${SCDOC} < ${source} > ${output}
      DEPENDS ${source} VERBATIM)
    list(APPEND KESTREL_MAN_PAGES ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  add_custom_target(man ALL DEPENDS ${KESTREL_MAN_PAGES})
else()
  message(STATUS "scdoc not found: no man pages (scripts/install-deps installs it)")
endif()

# The unit goes where systemd looks for packaged units: /lib/systemd/system
# for the system prefix /usr, else below the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(KESTREL_UNIT_DIR_DEFAULT /lib/systemd/system)
else()
  set(KESTREL_UNIT_DIR_DEFAULT ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(KESTREL_UNIT_DIR ${KESTREL_UNIT_DIR_DEFAULT} CACHE PATH "Where the systemd unit is installed")
if(TARGET kestreld)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/kestreld.service ${CMAKE_BINARY_DIR}/kestreld.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/kestreld.service DESTINATION ${KESTREL_UNIT_DIR})
  # /etc/logrotate.d for the prefix /usr, else below the prefix.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestreld.logrotate
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d RENAME kestreld)
endif()

# bash completion for kestrel-admin, where bash-completion loads it on demand.
if(TARGET kestrel-admin)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrel-admin.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestrel-admin)
endif()

# The desktop programs' menu and autostart entries and icons.
if(TARGET kestrel)
  add_subdirectory(${CMAKE_SOURCE_DIR}/packaging/desktop ${CMAKE_BINARY_DIR}/packaging/desktop)
endif()
