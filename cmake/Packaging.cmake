# Installation and Debian packages.
#
#   component  package      holds
#   runtime    libzemt0     libzemt.so.0 (SONAME) and the device-rule pair
#   dev        libzemt-dev  the public headers (include/zemt), libzemt.so, libzemt.pc
#   tool       zemt         the zemt tool and the emulator (its libraries and the
#                           hardware-access stand-in)
#
# `cmake --install build --prefix X` installs all three; `cmake --build build
# --target package` makes the three .deb files in build/.

install(TARGETS zemt
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(DIRECTORY common/include/ cm_CMBaseUtils/include/external/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zemt COMPONENT dev)
# The device-rule pair the library installs on Red Hat hosts; packages ship
# them next to the program that loads the library.
install(FILES rules/98-secupdusb.rules rules/00-secupd-norvik.rules
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zemt/rules COMPONENT runtime)

# The pkg-config file names the prefix the files go to, which is known only
# when they are installed (cmake --install --prefix X, CPack's staging).
set(ZEMT_PC_INSTALLED ${CMAKE_BINARY_DIR}/pkgconfig/libzemt.pc)
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ZEMT_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ZEMT_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
install(CODE "
  set(ZEMT_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(ZEMT_PC_LIBDIR [=[${ZEMT_PC_LIBDIR}]=])
  set(ZEMT_PC_INCLUDEDIR [=[${ZEMT_PC_INCLUDEDIR}]=])
  set(PROJECT_VERSION ${PROJECT_VERSION})
  configure_file(\"${CMAKE_SOURCE_DIR}/cmake/libzemt.pc.in\" \"${ZEMT_PC_INSTALLED}\" @ONLY)
" COMPONENT dev)
install(FILES ${ZEMT_PC_INSTALLED} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Compiling against the build tree without installing:
#   PKG_CONFIG_PATH=build/pkgconfig pkg-config --cflags --libs libzemt
# finds libzemt-uninstalled.pc, which pkg-config prefers to libzemt.pc.
set(ZEMT_PC_PREFIX ${CMAKE_BINARY_DIR})
set(ZEMT_PC_LIBDIR ${CMAKE_BINARY_DIR})
set(ZEMT_PC_CFLAGS "-I${CMAKE_SOURCE_DIR}/common/include -I${CMAKE_SOURCE_DIR}/cm_CMBaseUtils/include/external")
set(ZEMT_PC_LIBS "-L${CMAKE_BINARY_DIR} -Wl,-rpath,${CMAKE_BINARY_DIR} -lzemt")
configure_file(cmake/libzemt-uninstalled.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/libzemt-uninstalled.pc @ONLY)

# ---- Debian packages -------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zemt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "libzemt maintainers <maintainers@libzemt.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware staging into a management controller's flash repository")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_STRIP_FILES ON)
# Runtime dependencies come from the ELF files (dpkg-shlibdeps): libc,
# libstdc++, libxml2 and libcrypto.  The library of this build is found in
# the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/emulator)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzemt0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "host-side firmware staging library (libzemt.so.0)\n Stages firmware payloads into the flash repository of a server's management\n controller, queries and extends its inventory log and checks a package's\n dependencies, through the hardware-access library libzolipm32.so.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzemt-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libzemt0 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "development files of libzemt\n The public headers under /usr/include/zemt, libzemt.so and libzemt.pc\n (pkg-config --cflags --libs libzemt).")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME zemt)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
# The emulator keeps its partitions as FAT images (mkfs.fat, mtools) and
# unpacks signed payloads with unzip.
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libzemt0 (= ${PROJECT_VERSION}), mtools, dosfstools, unzip")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "command-line tool over libzemt, with a controller and host emulator\n zemt reports what the library sees of the controller and the host, stages\n files, queries and extends the inventory log and checks a package's\n dependencies; with --emulator DIR it works against an emulated controller and\n host kept in a state directory.")

include(CPack)
