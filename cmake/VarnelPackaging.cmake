# Packages of everything `cmake --install` installs, built by `make package` (CPack, the package preset).
# The settings every generator shares come first, then one block per generator: another generator is
# added with its own block and one more entry in CPACK_GENERATOR.

# A package is what users install: it must never carry a build that lets every user in.
if(VARNEL_SKIP_ADMIN_CHECK)
    add_custom_target(package
        COMMAND ${CMAKE_COMMAND} -E echo
                "This build lets every user in (VARNEL_SKIP_ADMIN_CHECK); packages come from the package preset."
        COMMAND ${CMAKE_COMMAND} -E false
        VERBATIM)
    return()
endif()

set(VARNEL_PACKAGE_MAINTAINER "The Varnel developers <packages@varnel.app>" CACHE STRING
    "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VENDOR "The Varnel developers")
set(CPACK_PACKAGE_CONTACT "${VARNEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://${VARNEL_SITE_HOST}/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines under 80 columns, as Debian wants its long descriptions.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Varnel puts the permissions of the system's files back the way they were"
    "installed. One button runs the system's permission-repair tool, the window"
    "follows its progress, and a coloured status line tells how long ago the last"
    "repair completed. Only administrators may run a repair.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
else()
    set(CPACK_GENERATOR TGZ)
endif()

# Debian: varnel_<version>_<arch>.deb; the Depends line comes from the libraries the program links.
# dpkg-shlibdeps (dpkg-dev) and file must be installed.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The repair asks for an administrator's password through pkexec, which needs the polkit daemon (Debian 12
# splits them into two packages); dpkg-shlibdeps adds the libraries to these.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, polkitd")
# Qt's own texts (standard buttons, the file dialog) in the languages Varnel is translated into.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# The apt hook is a configuration file the administrator may change; purging the package removes what
# varnel-repair keeps in /var/lib/varnel (receipts and its cache of archive contents).
if(VARNEL_INSTALL_APT_HOOK)
    file(WRITE ${PROJECT_BINARY_DIR}/debian/conffiles "/etc/apt/apt.conf.d/99varnel-receipts\n")
    file(WRITE ${PROJECT_BINARY_DIR}/debian/postrm [[#!/bin/sh
set -e
if [ "$1" = purge ]; then
    rm -rf /var/lib/varnel
fi
]])
    file(CHMOD ${PROJECT_BINARY_DIR}/debian/postrm PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/conffiles ${PROJECT_BINARY_DIR}/debian/postrm)
endif()

# rpm: varnel-<version>-<release>.<arch>.rpm, where rpmbuild is installed (the repair tool is what makes
# Varnel work on rpm systems).
include(${CMAKE_CURRENT_LIST_DIR}/VarnelRpmPackage.cmake)
find_program(VARNEL_RPMBUILD rpmbuild)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND VARNEL_RPMBUILD)
    list(APPEND CPACK_GENERATOR RPM)
endif()

include(CPack)
