# The Debian package, made by `cpack` in the build folder from the install rules: lumivex_3.0-1_ARCH.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivex)
set(CPACK_PACKAGE_VENDOR "Quorvane Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The programs are stripped, the copyright file, the changelog and lintian's overrides added by
# cmake/DebianStaging.cmake on the staged tree.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianStaging.cmake)
set(CPACK_LUMIVEX_DEBIAN_SOURCE ${PROJECT_SOURCE_DIR}/data/debian)
set(CPACK_LUMIVEX_STRIP ${CMAKE_STRIP})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvane Software <support@lumivex.app>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# Depends and Recommends are found on the staged tree (cmake/DebianStaging.cmake): the shared
# libraries the programs link (Qt 6, libpff, zlib, the C++ runtime) become Depends, those of the
# modules loaded when first used (the keyring, Evolution's address books) Recommends.
# Help > Contents and the web site open in the desktop's browser; on Wayland the window is native.
# Sending to GNOME / Evolution address books needs the server behind them, which any GNOME
# desktop has.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland, evolution-data-server")
# The synopsis, then the long description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "export the contacts of Outlook .pst and .ost files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lumivex reads the contacts folder of an Outlook data file (a personal-folders
file, .pst, or an offline store, .ost) without Outlook, and saves its contacts
as one vCard file, one vCard file per contact, an Excel worksheet (.xls) or a
Windows Address Book file (.wab).

The contacts can also be sent into an address book: a CardDAV server
(Nextcloud, Radicale, Fastmail, iCloud), GNOME / Evolution's address books,
KDE Contacts or a vdir folder. Run again, a send sends only what changed.
Several files can be read at once: the entries of one person are merged
into one contact, and a review window shows and splits what was merged.

The desktop program lumivex scans a file's contacts folder and saves or
sends it; the command line program lumivex-cli lists a file's folders,
counts a folder's contacts, exports and sends them, and migrates a whole
office's contacts from one plan, for scripts.")
include(CPack)
