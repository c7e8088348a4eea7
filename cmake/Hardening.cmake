# Every Linux build compiles and links as Debian hardens its packages, so a
# package made with the plain `cpack -G DEB` is hardened without the
# packager knowing the recipe: PIE, stack protector, fortify, read-only
# relocations and immediate binding for every program and for libredi.
#
# The flags are dpkg-buildflags' (with hardening=+all) where it is installed,
# so they follow the distribution, and the same set otherwise. Only the
# hardening is taken from it: optimisation and debug information stay the
# build type's, and its -ffile-prefix-map stays out: it maps whatever
# directory CMake was started from, which says nothing about the sources.
option(VNKESTRIX_HARDENING "Compile and link with Debian's hardening flags" ON)
if(NOT VNKESTRIX_HARDENING OR MSVC OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

include(CheckCompilerFlag)

set(vnk_hardening_compile)
set(vnk_hardening_fortify)
set(vnk_hardening_link)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT CMAKE_CROSSCOMPILING)
  foreach(kind CXXFLAGS CPPFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all $ENV{DEB_BUILD_MAINT_OPTIONS}"
              ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed; -DVNKESTRIX_HARDENING=OFF builds without hardening")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    foreach(flag IN LISTS flags)
      if(kind STREQUAL "LDFLAGS")
        list(APPEND vnk_hardening_link ${flag})
      elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
        list(APPEND vnk_hardening_fortify ${flag})
      elseif(NOT flag MATCHES "^-(O|g)|^-f(file|debug|macro)-prefix-map=")
        list(APPEND vnk_hardening_compile ${flag})
      endif()
    endforeach()
  endforeach()
else()
  set(vnk_hardening_compile -fstack-protector-strong -Wformat -Werror=format-security)
  set(vnk_hardening_fortify -D_FORTIFY_SOURCE=2)
  set(vnk_hardening_link -Wl,-z,relro -Wl,-z,now)
endif()

# Debian 12's dpkg does not ask for these yet; GCC offers them on most targets.
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "vnk_has${flag}" have)
  check_compiler_flag(CXX ${flag} ${have})
  if(${have} AND NOT flag IN_LIST vnk_hardening_compile)
    list(APPEND vnk_hardening_compile ${flag})
  endif()
endforeach()

add_compile_options(${vnk_hardening_compile})
add_link_options(${vnk_hardening_link})

# glibc's fortified calls need optimisation (it warns, so -Werror fails,
# without), and they hide from AddressSanitizer the calls it checks: only
# optimised builds without the sanitizers get them. A compiler that already
# defines _FORTIFY_SOURCE is told the level again rather than warned.
if(vnk_hardening_fortify AND NOT VNKESTRIX_SANITIZE)
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;${vnk_hardening_fortify}>")
endif()

# PIE: CMAKE_POSITION_INDEPENDENT_CODE makes the objects position
# independent; the programs link as PIE where the toolchain can.
include(CheckPIESupported)
check_pie_supported()
