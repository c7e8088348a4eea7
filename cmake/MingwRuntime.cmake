# MinGW's C++ runtime (libstdc++, libgcc, winpthread), target by target.
# A program or DLL without Qt carries it statically, so that it runs with
# nothing beside it (redi.dll in another program's folder, the conformance
# program under Wine). Qt's DLLs are built against the runtime DLLs, and a
# binary that links Qt must share them: C++ objects, exceptions and memory
# cross the boundary between its code and Qt's, and two copies of the
# runtime would each keep their own heap and unwinding tables.
#
# Which kind a target is follows from what it links, once every target is
# known (at the end of the top-level directory), so no target needs a mark.

# Sets ${result} to TRUE when `target` links a Qt target, directly or
# through the project's own libraries.
function(vnk_links_qt target result)
  set(${result} FALSE PARENT_SCOPE)
  list(APPEND VNK_QT_WALKED ${target})
  get_target_property(imported ${target} IMPORTED)
  set(links)
  foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    if(NOT (imported AND property STREQUAL "LINK_LIBRARIES"))
      get_target_property(value ${target} ${property})
      if(value)
        list(APPEND links ${value})
      endif()
    endif()
  endforeach()
  foreach(link IN LISTS links)
    # $<LINK_ONLY:x> and the like name a target all the same.
    string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" link "${link}")
    if(link MATCHES "^Qt6?::")
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET "${link}" AND NOT link IN_LIST VNK_QT_WALKED)
      vnk_links_qt(${link} links_qt)
      if(links_qt)
        set(${result} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
endfunction()

function(vnk_targets_below directory out)
  get_directory_property(targets DIRECTORY ${directory} BUILDSYSTEM_TARGETS)
  get_directory_property(subdirectories DIRECTORY ${directory} SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    vnk_targets_below(${subdirectory} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(vnk_choose_mingw_runtime)
  vnk_targets_below(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      set(VNK_QT_WALKED)
      vnk_links_qt(${target} links_qt)
      if(NOT links_qt)
        set_property(TARGET ${target} APPEND PROPERTY LINK_OPTIONS -static)
      endif()
    endif()
  endforeach()
endfunction()

if(MINGW)
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vnk_choose_mingw_runtime)
endif()
