# Run by CPack once the packages of a generator are made: writes their
# SHA256 sums into SHA256SUMS in the folder the packages go to, in the
# format sha256sum -c reads. The sums of the other generators' packages
# there are kept.
set(path "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
set(names "")
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  list(APPEND names "${name}")
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
if(EXISTS "${path}")
  file(STRINGS "${path}" lines)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-f]+  " "" name "${line}")
    if(NOT name IN_LIST names AND EXISTS "${CPACK_PACKAGE_DIRECTORY}/${name}")
      string(APPEND sums "${line}\n")
    endif()
  endforeach()
endif()
file(WRITE "${path}" "${sums}")
