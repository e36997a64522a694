# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh builds it with
# Debian's hardening flags and checks it). Depends comes from dpkg-shlibdeps.
set(QTR290_MAINTAINER "QTR290 utility developers <qtr290@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The changelog's newest entry must be this version.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^qtr290 \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${top}', not version ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qtr290)
set(CPACK_PACKAGE_VENDOR "QTR290 utility developers")
set(CPACK_PACKAGE_CONTACT "${QTR290_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "communication utility for the QTR290 serial device bus")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop utility for engineers who work with QTR290 devices on a shared serial
bus. It listens to the bus, checks both checksums of every telegram, shows the
intact ones in hexadecimal, captures raw traffic to a file with time stamps,
and answers polls with the operator's queued read and write requests to the
device's memory areas. The window speaks Czech.
.
The bus simulator qtr290-sim stands in for the devices on a pseudo-terminal.
qtr290-ctl reads, writes and watches the bus from scripts (JSON output).
qtr290-gateway publishes a bus to an MQTT broker and takes requests from it
(a systemd template unit, qtr290-gateway@BUS, runs one per bus).
.
Serial devices belong to the group dialout: add the user to it
(sudo adduser USER dialout) and log in again.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QTR290_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# One package of everything but the plain LICENSE, which Debian's copyright file replaces.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)
include(CPack)
