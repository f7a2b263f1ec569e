# Run by CPack in its staging folder, before the Debian package is built.
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr")
set(doc "${usr}/share/doc/kelvarin")
file(REMOVE "${doc}/LICENSE")
file(COPY_FILE "${CPACK_KELVARIN_PACKAGING_DIR}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_KELVARIN_PACKAGING_DIR}/changelog" "${doc}/changelog")
file(MAKE_DIRECTORY "${usr}/share/lintian/overrides")
file(COPY_FILE "${CPACK_KELVARIN_PACKAGING_DIR}/lintian-overrides"
     "${usr}/share/lintian/overrides/kelvarin")
execute_process(COMMAND gzip -9n "${doc}/changelog" "${usr}/share/man/man1/kelvarin.1"
                COMMAND_ERROR_IS_FATAL ANY)
