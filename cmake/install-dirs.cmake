# Run by `cmake --install` before anything is copied: makes the folders the
# install needs that do not exist yet, with mode 0755 whatever the umask (the
# default directory permissions pass through mkdir, which the umask narrows).
# Folders that exist, such as /usr/local/share, are left as they are.
foreach(dir IN LISTS kelvarin_install_dirs)
  if(IS_ABSOLUTE "${dir}")
    set(path "$ENV{DESTDIR}${dir}")
  else()
    set(path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  set(missing "")
  while(NOT EXISTS "${path}")
    list(PREPEND missing "${path}")
    get_filename_component(parent "${path}" DIRECTORY)
    if(parent STREQUAL path OR parent STREQUAL "")
      break()
    endif()
    set(path "${parent}")
  endwhile()
  foreach(new IN LISTS missing)
    file(MAKE_DIRECTORY "${new}")
    file(CHMOD "${new}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  endforeach()
endforeach()
