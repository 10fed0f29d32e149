# Run by CPack on the Debian package's staged files, before it packs them:
# strips the program as Debian's own packages are stripped (dh_strip), which
# also drops the compiler's notes that a plain strip keeps.
set (program "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/QuilletLooperSwUpdater")

execute_process (COMMAND "${CPACK_QUILLET_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
                 COMMAND_ERROR_IS_FATAL ANY)
