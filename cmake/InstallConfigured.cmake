# Runs at install time (install(CODE)): writes TEMPLATE to OUTPUT with @MARROWBELL_BINDIR@
# and @MARROWBELL_EXEC@ naming the installed binaries, so that `cmake --install --prefix`
# and CPack's /usr each get their own paths rather than the configured prefix.
set(MARROWBELL_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
set(MARROWBELL_EXEC "${MARROWBELL_BINDIR}/marrowbell")
# A desktop entry's Exec quotes a path holding a reserved character; inside the quotes
# \ " ` $ take a backslash, and the value's own escaping doubles every backslash.
if(MARROWBELL_EXEC MATCHES "[ \t\"'\\\\><~|&;$*?#()`]")
    string(REPLACE "\\" "\\\\\\\\" MARROWBELL_EXEC "${MARROWBELL_EXEC}")
    foreach(character "\"" "`" "$")
        string(REPLACE "${character}" "\\\\${character}" MARROWBELL_EXEC "${MARROWBELL_EXEC}")
    endforeach()
    set(MARROWBELL_EXEC "\"${MARROWBELL_EXEC}\"")
endif()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
