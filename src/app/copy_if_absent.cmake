# Copies SRC to DST unless DST exists: the settings file beside the program is the user's once
# the program has run, so a rebuild never replaces it.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
  file(CHMOD "${DST}" PERMISSIONS OWNER_READ OWNER_WRITE)
endif()
