# The program's folder on Windows: `cmake --install BUILD --prefix DIR` puts
# into DIR, side by side, everything the window and the CLI need to run:
# the two programs and redi.dll, the Qt DLLs, the Windows platform plugin and
# the native style in the subfolders where Qt looks beside the program, and
# the MinGW runtime DLLs that Qt's DLLs and the programs share. The folder
# runs as it is; the installer takes it whole.
install(TARGETS vnkestrix vnkestrix-cli RUNTIME DESTINATION .)
# The DLL alone: its import library is for linking, not for the folder.
get_target_property(vnk_redi_imported redi IMPORTED)
if(NOT vnk_redi_imported)
  install(FILES $<TARGET_FILE:redi> DESTINATION .)
endif()

install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets> DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)

# The runtime from beside Qt's DLLs (scripts/build-qt-windows.sh keeps it
# there), else where the compiler finds it.
get_target_property(vnk_qt_core Qt6::Core LOCATION)
get_filename_component(vnk_qt_bin "${vnk_qt_core}" DIRECTORY)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  set(vnk_runtime_dll "${vnk_qt_bin}/${dll}")
  if(NOT EXISTS "${vnk_runtime_dll}")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE vnk_runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT IS_ABSOLUTE "${vnk_runtime_dll}" OR NOT EXISTS "${vnk_runtime_dll}")
    message(FATAL_ERROR "${dll} found neither beside Qt (${vnk_qt_bin}) nor by the compiler")
  endif()
  install(FILES "${vnk_runtime_dll}" DESTINATION .)
endforeach()
