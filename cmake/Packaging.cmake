# `./dev package`: a .deb of the install tree, built by CPack.
install(FILES ${PROJECT_SOURCE_DIR}/resources/deb/copyright DESTINATION share/doc/marrowbell)
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog} DEPENDS ${PROJECT_SOURCE_DIR}/resources/deb/changelog
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/resources/deb/changelog ${changelog} VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION share/doc/marrowbell)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowbell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Marrowbell maintainers <maintainers@users.noreply.c-seed-c4cffca4.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "run AI coding agents on cron schedules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Marrowbell runs AI coding-agent command-line tools (Claude Code, Codex,
opencode, Pi) unattended on cron schedules: it finds each tool's real
executable, builds its command line and a minimal environment, confines
read-only and scoped-write runs with a kernel sandbox, enforces a time limit
and keeps a history of every run.

The package holds the tray application, marrowbellctl with its systemd user
service for machines without a desktop, and the sandbox launcher.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened at run time (an endpoint probe, a stored key), so dpkg-shlibdeps cannot see
# them (ICU it finds through the app, which links it); the zone files are read for
# every schedule.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, libsecret-1-0, tzdata")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager | keepassxc, git")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
