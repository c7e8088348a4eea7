# vnk_windows_resources(TARGET DESCRIPTION [PROGRAM]): gives a program or DLL
# built for Windows its resources from vnkestrix.rc.in, with the project's
# version and its own file name and description; PROGRAM adds the icon group
# and the manifest. The .rc is written into the caller's build folder.
include_guard(GLOBAL)

function(vnk_windows_resources target description)
  cmake_parse_arguments(ARG "PROGRAM" "" "" ${ARGN})
  set(VNK_RC_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  set(VNK_RC_DESCRIPTION "${description}")
  get_target_property(VNK_RC_NAME ${target} OUTPUT_NAME)
  if(NOT VNK_RC_NAME)
    set(VNK_RC_NAME ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(VNK_RC_FILENAME ${VNK_RC_NAME}.exe)
    set(VNK_RC_FILETYPE VFT_APP)
  else()
    set(VNK_RC_FILENAME ${VNK_RC_NAME}.dll)
    set(VNK_RC_FILETYPE VFT_DLL)
  endif()
  set(VNK_RC_PROGRAM 0)
  if(ARG_PROGRAM)
    set(VNK_RC_PROGRAM 1)
  endif()
  # FILEVERSION wants four numbers: 0.9 is 0,9,0,0.
  string(REPLACE "." ";" parts "${PROJECT_VERSION}.0.0.0")
  list(SUBLIST parts 0 4 parts)
  list(JOIN parts "," VNK_RC_VERSION_COMMAS)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${VNK_RC_DIR}/vnkestrix.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} APPEND PROPERTY OBJECT_DEPENDS
               ${VNK_RC_DIR}/vnkestrix.ico ${VNK_RC_DIR}/vnkestrix.manifest)
endfunction()
