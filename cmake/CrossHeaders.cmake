# ---- This machine's header-only libraries, for a cross build ----
#
# CLI11 and nlohmann-json are header-only Debian packages (libcli11-dev, nlohmann-json3-dev)
# whose headers, in /usr/include, compile for mingw-w64 too. The cross compiler does not search
# /usr/include, and must not: the rest of it is this machine's C library. So the build tree
# gets a folder with links to just these two, and targets named as the packages' own CMake
# targets, which the tool and its tests link as they do on Linux.

set(QIM_CROSS_HEADERS "${PROJECT_BINARY_DIR}/cross-headers")
file(MAKE_DIRECTORY "${QIM_CROSS_HEADERS}")
foreach(folder CLI nlohmann)
  if(NOT IS_DIRECTORY "/usr/include/${folder}")
    message(FATAL_ERROR "/usr/include/${folder} is missing: scripts/install-deps.sh installs it")
  endif()
  file(CREATE_LINK "/usr/include/${folder}" "${QIM_CROSS_HEADERS}/${folder}" SYMBOLIC)
endforeach()

foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${QIM_CROSS_HEADERS}")
endforeach()
