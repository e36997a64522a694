# Installation (cmake --install): the utility, the bus simulator and qtr290-ctl (qtr290-pcap,
# qtr290-extcap and the dissector in tools/CMakeLists.txt), the documents, and on Linux
# desktops the menu entry, its icon, AppStream metadata, the manual pages and the bash
# completion. Only the
# Debian package (cmake/package.cmake) carries the "debian" component: copyright and
# changelog in Debian's formats, which stand in for LICENSE there.
include(GNUInstallDirs)
foreach(program qtr290 qtr290-sim qtr290-ctl qtr290-gateway)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# README's links (docs/...) keep working from the documentation folder: every picture it shows
# is installed beside it (the test readme_images_installed compares the two lists).
set(QTR290_README_IMAGES docs/window.png docs/window-overview.png docs/window-en.png
    docs/ports.png docs/wireshark.png)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/ARCHITECTURE.md docs/PERFORMANCE.md ${QTR290_README_IMAGES}
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
if(BUILD_TESTING)
  add_test(NAME readme_images_installed
           COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md
                   "-DINSTALLED=${QTR290_README_IMAGES}"
                   -P ${PROJECT_SOURCE_DIR}/tests/packaging/readme_images_check.cmake)
endif()
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT license)

if(UNIX AND NOT APPLE AND NOT CMAKE_CROSSCOMPILING AND TARGET qtr290)
  set(pack ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
  install(FILES ${pack}/qtr290.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${pack}/cz.qtr290.utility.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${pack}/icons/qtr290.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${pack}/icons/qtr290-${size}.png RENAME qtr290.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()

  # Manual pages and the Debian changelog, compressed as Debian installs them (gzip -n:
  # the same bytes at every build). The simulator's page is made from its --help.
  find_program(QTR290_GZIP gzip REQUIRED)
  find_program(QTR290_HELP2MAN help2man)
  function(qtr290_gzip source name)
    add_custom_command(OUTPUT ${out}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${out}/gzip/${name}
      COMMAND ${QTR290_GZIP} -9nf ${out}/gzip/${name}
      COMMAND ${CMAKE_COMMAND} -E rename ${out}/gzip/${name}.gz ${out}/${name}.gz
      DEPENDS ${source} VERBATIM)
  endfunction()
  qtr290_gzip(${pack}/man/qtr290.1 qtr290.1)
  qtr290_gzip(${pack}/debian/changelog changelog)
  set(compressed ${out}/qtr290.1.gz ${out}/changelog.gz)
  install(FILES ${out}/qtr290.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The command-line programs' pages are made from their --help.
  foreach(program qtr290-sim qtr290-pcap qtr290-ctl qtr290-gateway)
    if(NOT TARGET ${program})
      continue()
    endif()
    if(NOT QTR290_HELP2MAN)
      message(WARNING "help2man is missing (Debian package help2man): no manual page for ${program}")
      continue()
    endif()
    add_custom_command(OUTPUT ${out}/${program}.1
      COMMAND ${QTR290_HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
              --include=${pack}/man/${program}.h2m --output=${out}/${program}.1
              $<TARGET_FILE:${program}>
      DEPENDS ${program} ${pack}/man/${program}.h2m VERBATIM)
    qtr290_gzip(${out}/${program}.1 ${program}.1)
    list(APPEND compressed ${out}/${program}.1.gz)
    install(FILES ${out}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(qtr290_compressed ALL DEPENDS ${compressed})
  # The gateway's systemd template unit, one instance per bus. /lib, where Debian 12 keeps
  # the units of its packages, for an installation into /usr.
  if(TARGET qtr290-gateway)
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      set(QTR290_UNIT_DIR /lib/systemd/system)
    else()
      set(QTR290_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
    endif()
    install(FILES ${pack}/systemd/qtr290-gateway@.service DESTINATION ${QTR290_UNIT_DIR})
  endif()
  if(TARGET qtr290-ctl)
    install(FILES ${pack}/bash-completion/qtr290-ctl
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endif()
  install(FILES ${pack}/debian/copyright ${out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)
  include(cmake/package.cmake)
endif()
