# Packs a Windows build's release archive, Velmora-VERSION-win32.zip or
# -win64.zip, from its staged tree (cmake -P):
#   cmake -D FACTS=FILE -D STAGE=DIR -D ARCHIVE=ZIP -P ReleaseArchive.cmake
# STAGE is what "cmake --install BUILD --prefix STAGE" made, each part of the
# build installing its own (the two programs, README.md and LICENSE, the
# administrator's files, and in the 64-bit tree the DSC 3 resource's manifest),
# signed in place where the release signs. Every entry carries the release's one
# time, so that the same commit packs to the same bytes; a tree without a file
# that the release signs is refused.
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseScript.cmake")
velmora_needs(STAGE ARCHIVE)
velmora_staged("${STAGE}")
velmora_zip("${STAGE}" "${ARCHIVE}")
