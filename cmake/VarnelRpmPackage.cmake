# Settings of the rpm package for CPack's RPM generator; they take effect where the packaging set-up
# includes CPack. Build a package with CMAKE_INSTALL_PREFIX=/usr, so the compiled-in repair tool path and
# the polkit action's path are the installed ones.
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
# rpm reads the database and pkexec (polkit) asks for the password; libraries come from automatic requires.
set(CPACK_RPM_PACKAGE_REQUIRES "rpm, polkit")
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
# Folders the system's own packages own are not claimed by ours.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    ${CMAKE_INSTALL_FULL_LIBEXECDIR} ${CMAKE_INSTALL_FULL_SBINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/polkit-1
    ${CMAKE_INSTALL_FULL_DATADIR}/polkit-1/actions ${CMAKE_INSTALL_FULL_MANDIR}
    ${CMAKE_INSTALL_FULL_MANDIR}/man1 ${CMAKE_INSTALL_FULL_MANDIR}/man8)
# No /usr/lib/.build-id links: debug information is not shipped.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none")
