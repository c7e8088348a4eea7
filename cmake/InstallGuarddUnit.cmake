# Runs at install time (packaging/CMakeLists.txt sets vnk_unit_template and
# vnk_sbindir): the guard service's unit names the daemon under the prefix
# this install goes to, which for `cmake --install --prefix` and for CPack's
# /usr is not the prefix the tree was configured with.
if(IS_ABSOLUTE "${vnk_sbindir}")
  set(CMAKE_INSTALL_FULL_SBINDIR "${vnk_sbindir}")
else()
  set(CMAKE_INSTALL_FULL_SBINDIR "${CMAKE_INSTALL_PREFIX}/${vnk_sbindir}")
endif()
# Made beside the files being installed, so that installs to different
# prefixes at the same time (the install tests) never share a scratch file.
set(vnk_unit_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
configure_file("${vnk_unit_template}" "${vnk_unit_dir}/.vnkestrix-guardd.service" @ONLY)
file(INSTALL "${vnk_unit_dir}/.vnkestrix-guardd.service" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system"
     RENAME vnkestrix-guardd.service
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(REMOVE "${vnk_unit_dir}/.vnkestrix-guardd.service")
