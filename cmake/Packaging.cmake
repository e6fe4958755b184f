# Installation by Debian's conventions and the .deb that CPack makes of it
# (scripts/package). Programs go to bin; what only they load goes to
# lib/<multiarch>/certsetup; framework.sql to share/certsetup.
#
#   bin/certsetup, bin/sdsbrowse, bin/catalogue, bin/vcert-store
#   lib/<multiarch>/certsetup/VPKI1.DLL         certsetup's RUNPATH points here
#   lib/<multiarch>/firebird/3.0/plugins/udr/libfbsession.so
#                                               where Debian's Firebird looks for UDR modules
#   share/certsetup/framework.sql, share/certsetup/firebird/plugins.conf
#   share/doc/certsetup/README.md
include(GNUInstallDirs)

set(CERTSETUP_INSTALL_PKGLIBDIR ${CMAKE_INSTALL_LIBDIR}/certsetup)
set(CERTSETUP_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/certsetup)

# The programs of the package.
set(CERTSETUP_PROGRAMS certsetup sdsbrowse catalogue vcert-store)
install(TARGETS ${CERTSETUP_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# certsetup loads VPKI1.DLL by its bare name: the loader searches the
# program's RUNPATH, relative to the program so the tree can move.
file(RELATIVE_PATH certsetup_bin_to_pkglib /${CMAKE_INSTALL_BINDIR} /${CERTSETUP_INSTALL_PKGLIBDIR})
set_target_properties(certsetup PROPERTIES INSTALL_RPATH "$ORIGIN/${certsetup_bin_to_pkglib}")
install(TARGETS vpki1 LIBRARY DESTINATION ${CERTSETUP_INSTALL_PKGLIBDIR})

# The session functions, where Debian's Firebird (server and embedded engine
# alike) looks for UDR modules: found without touching its configuration.
# A real file: the UDR engine refuses a module it reaches through a link.
set(CERTSETUP_INSTALL_UDRDIR ${CMAKE_INSTALL_LIBDIR}/firebird/3.0/plugins/udr)
install(TARGETS fbsession LIBRARY DESTINATION ${CERTSETUP_INSTALL_UDRDIR})

install(FILES platform/fbserver/framework.sql DESTINATION ${CERTSETUP_INSTALL_DATADIR})
# For a Firebird server that is not Debian's: the UDR configuration that
# finds the installed module (README, "The session plugin on a server").
configure_file(platform/fbserver/plugins.conf.in ${CMAKE_BINARY_DIR}/package/plugins.conf @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/plugins.conf DESTINATION ${CERTSETUP_INSTALL_DATADIR}/firebird)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/certsetup)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME certsetup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Certsetup developers <certsetup@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Certificate directory setup and the data-entry framework's tools")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "certsetup installs the trusted root certificates and CRLs it carries into the\n"
    "certificate store of the VCERT library (VPKI1.DLL, included). sdsbrowse browses\n"
    "and edits the tables of a Firebird database; catalogue is a goods catalogue for\n"
    "one user or several at once. The session functions (record locks, change\n"
    "notices, audit) come as a Firebird UDR module with framework.sql.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link, with the versions they need, from
# dpkg-shlibdeps; beside them what is only loaded at run time: Qt's platform
# plugins, Firebird's embedded engine and its UDR engine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, firebird3.0-server-core")
# isql-fb runs framework.sql; a server serves several programs at once.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "firebird3.0-server")
set(CPACK_STRIP_FILES ON)
include(CPack)
