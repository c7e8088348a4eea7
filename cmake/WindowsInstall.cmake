# The program's folder on Windows: `cmake --install BUILD --prefix DIR` puts
# into DIR, side by side, everything the window and the CLI need to run:
# the two programs and redi.dll, the Qt DLLs, the Windows platform plugin and
# the native style in the subfolders where Qt looks beside the program, and
# the MinGW runtime DLLs that Qt's DLLs and the programs share. The folder
# runs as it is; the installer takes it whole.
set(vnk_programs vnkestrix vnkestrix-cli)
get_target_property(vnk_redi_imported redi IMPORTED)
if(NOT vnk_redi_imported)
  list(APPEND vnk_programs redi)
endif()
install(TARGETS ${vnk_programs} RUNTIME DESTINATION .)

install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets> DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)

# The runtime from beside Qt's DLLs (scripts/build-qt-windows.sh keeps it
# there), else the compiler's own.
get_target_property(vnk_qt_core Qt6::Core LOCATION)
get_filename_component(vnk_qt_bin "${vnk_qt_core}" DIRECTORY)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE vnk_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(vnk_gcc_dir "${vnk_libgcc}" DIRECTORY)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  find_file(VNK_RUNTIME_${dll} ${dll} HINTS ${vnk_qt_bin} ${vnk_gcc_dir} ${CMAKE_FIND_ROOT_PATH}/lib
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT VNK_RUNTIME_${dll})
    message(FATAL_ERROR "${dll} not found beside Qt (${vnk_qt_bin}) nor the compiler's")
  endif()
  install(FILES ${VNK_RUNTIME_${dll}} DESTINATION .)
endforeach()
