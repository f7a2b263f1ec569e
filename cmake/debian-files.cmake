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
# Copies keep the checkout's modes and new folders follow the umask: fix both.
file(GLOB_RECURSE files LIST_DIRECTORIES true "${usr}/*")
foreach(path IN LISTS files)
  if(IS_DIRECTORY "${path}" OR path MATCHES "/bin/[^/]*$")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
endforeach()
file(CHMOD "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "${usr}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
