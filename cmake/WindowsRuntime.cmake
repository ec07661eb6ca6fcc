# ---- The C++ runtime of a Windows build, shared and shipped beside the programs ----
#
# The module, the host library and the programs share one C++ runtime: the module's trace
# lines go to the one std::cout that the tool redirects, and strings, exceptions and type
# information pass between them. So nothing links the runtime statically, and its three DLLs
# (C++ library, GCC support with its SEH unwinder, POSIX threads) lie beside the programs in
# the build tree and in an installation, where Windows finds them first: a machine without
# the compiler runs them as they are.

set(QIM_RUNTIME_DLLS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
set(QIM_RUNTIME_DLL_PATHS "")
foreach(dll IN LISTS QIM_RUNTIME_DLLS)
  execute_process(
    COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${dll}
    OUTPUT_VARIABLE found
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The compiler prints the bare name when it does not know the file.
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    message(FATAL_ERROR "The C++ runtime ${dll} of ${CMAKE_CXX_COMPILER} is not found")
  endif()
  get_filename_component(found "${found}" REALPATH)
  list(APPEND QIM_RUNTIME_DLL_PATHS "${found}")
  file(COPY "${found}" DESTINATION "${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR}")
endforeach()
install(FILES ${QIM_RUNTIME_DLL_PATHS} DESTINATION ${CMAKE_INSTALL_BINDIR})
