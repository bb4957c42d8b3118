# Install rules: the layout of an installed Tolvane (and of the Debian packages built from it).
#
#   <prefix>/lib/tolvane/         the program folder: tolvane, tolvanectl, tool, and links to the
#                                 shipped config.ini, Languages/ and Help/
#   <prefix>/share/tolvane/       config.ini, Languages/, Help/ (architecture-independent)
#   <prefix>/bin/                 links to tolvane and tolvanectl; tolvane-devsim itself
#   <prefix>/share/applications/, metainfo/, icons/hicolor/, man/man1/   see desktop/
#
# The programs find their files beside themselves (the program folder comes from /proc/self/exe,
# so the links in bin/ lead there). An installed program folder belongs to the system: the
# settings never write into it, not even when run as root (app/AppSettings.cpp), and go to
# $XDG_CONFIG_HOME/Tolvane/config.ini instead.
include(GNUInstallDirs)

set(TOLVANE_PROGRAM_DIR "lib/tolvane" CACHE STRING
    "The program folder, relative to the install prefix")
set(TOLVANE_DATA_DIR "${CMAKE_INSTALL_DATADIR}/tolvane" CACHE STRING
    "The shipped settings, language files and user guide, relative to the install prefix")

set(_program_dir "${CMAKE_INSTALL_PREFIX}/${TOLVANE_PROGRAM_DIR}")

# The settings must know the installed program folder to leave it alone.
foreach(_target app app_tests)
  if(TARGET ${_target})
    target_compile_definitions(${_target} PRIVATE TOLVANE_INSTALLED_PROGRAM_FOLDER="${_program_dir}/")
  endif()
endforeach()

set(_programs)
foreach(_target tolvane tolvanectl backuptool)
  if(TARGET ${_target})
    list(APPEND _programs ${_target})
  endif()
endforeach()
install(TARGETS ${_programs} RUNTIME DESTINATION ${TOLVANE_PROGRAM_DIR} COMPONENT application)
if(TARGET tolvane-devsim)
  install(TARGETS tolvane-devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT devsim)
endif()

set(_resources ${PROJECT_SOURCE_DIR}/app/resources)
install(FILES ${_resources}/config.ini DESTINATION ${TOLVANE_DATA_DIR} COMPONENT application)
install(DIRECTORY ${_resources}/Languages ${_resources}/Help DESTINATION ${TOLVANE_DATA_DIR}
        COMPONENT application)

# Relative links, so that the tree can be moved (DESTDIR, a package) and stays whole.
# tolvane_install_link(LINK TARGET): paths relative to the install prefix, which is taken when
# installing (cmake --install --prefix may change it).
function(tolvane_install_link link target)
  get_filename_component(_link_dir "${link}" DIRECTORY)
  file(RELATIVE_PATH _relative "/${_link_dir}" "/${target}")
  install(CODE "
    set(_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(_dir \"\${_link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${_dir}\")
    file(REMOVE \"\${_link}\")
    file(CREATE_LINK \"${_relative}\" \"\${_link}\" SYMBOLIC)
    message(STATUS \"Installing link: \${_link} -> ${_relative}\")"
    COMPONENT application)
endfunction()

foreach(_shipped config.ini Languages Help)
  tolvane_install_link("${TOLVANE_PROGRAM_DIR}/${_shipped}" "${TOLVANE_DATA_DIR}/${_shipped}")
endforeach()
foreach(_program tolvane tolvanectl)
  if(TARGET ${_program})
    tolvane_install_link("${CMAKE_INSTALL_BINDIR}/${_program}" "${TOLVANE_PROGRAM_DIR}/${_program}")
  endif()
endforeach()
