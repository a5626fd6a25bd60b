# Installation layout and the Debian packages: quillor (install component
# "programs", the layout below) and quillor-dev (component "dev", the
# library; cmake/Library.cmake).
#
#   <prefix>/lib/quillor/qlr, qlrmsg   the programs
#   <prefix>/lib/quillor/qlr.ctl       -> /etc/quillor/qlr.ctl
#   <prefix>/lib/quillor/qlr.lck       -> /var/lib/quillor/qlr.lck
#   <prefix>/bin/qlr, qlrmsg           -> ../lib/quillor/...
#
# qlr reads qlr.ctl and keeps its run lock qlr.lck beside its own
# executable, as the system resolves it (the target of /proc/self/exe, so
# through the bin links). The two links beside the programs put the
# configuration under /etc, where it is a conffile kept on upgrade, and the
# lock under /var, so /usr may be read-only.
#
# For a test install the link targets can be pointed elsewhere:
#   -DQLR_CONTROL_FILE=/tmp/t/qlr.ctl -DQLR_RUN_LOCK_FILE=/tmp/t/qlr.lck
# The package is built with the prefix /usr (make package), which puts the
# configuration under /etc and the lock under /var.

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)

set(QLR_PROGRAM_DIR lib/quillor)
set(QLR_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quillor)
set(QLR_STATE_DIR ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/quillor)
set(QLR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillor)
if(NOT DEFINED QLR_CONTROL_FILE)
  set(QLR_CONTROL_FILE ${QLR_CONFIG_DIR}/qlr.ctl)
endif()
if(NOT DEFINED QLR_RUN_LOCK_FILE)
  set(QLR_RUN_LOCK_FILE ${QLR_STATE_DIR}/qlr.lck)
endif()
set(QLR_PACKAGING_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../packaging)
set(QLR_PACKAGING_BINARY ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS qlr qlrmsg RUNTIME DESTINATION ${QLR_PROGRAM_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/Library.cmake)

# A symbolic link made at install time under DESTDIR and the prefix of
# that install (cpack stages with a prefix of its own).
function(qlr_install_link target link)
  install(CODE "
    set(qlr_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(qlr_link_dir \"\${qlr_link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${qlr_link_dir}\")
    message(STATUS \"Installing link: \${qlr_link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${qlr_link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${qlr_link}\")")
endfunction()

# A file installed gzipped (-n: no name or time stamp, so the package is
# the same from one build to the next).
function(qlr_install_gzipped source destination)
  get_filename_component(name "${source}" NAME)
  install(CODE "
    set(qlr_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}\")
    file(MAKE_DIRECTORY \"\${qlr_dir}\")
    message(STATUS \"Installing: \${qlr_dir}/${name}.gz\")
    execute_process(COMMAND gzip -9 -n -c \"${source}\"
                    OUTPUT_FILE \"\${qlr_dir}/${name}.gz\" RESULT_VARIABLE qlr_rc)
    if(NOT qlr_rc EQUAL 0)
      message(FATAL_ERROR \"gzip of ${source} failed: \${qlr_rc}\")
    endif()
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${qlr_dir}/${name}.gz\")")
endfunction()

qlr_install_link(../lib/quillor/qlr bin/qlr)
qlr_install_link(../lib/quillor/qlrmsg bin/qlrmsg)
qlr_install_link(${QLR_CONTROL_FILE} ${QLR_PROGRAM_DIR}/qlr.ctl)
qlr_install_link(${QLR_RUN_LOCK_FILE} ${QLR_PROGRAM_DIR}/qlr.lck)

# The configuration (a conffile of the package) and the empty directory
# that receives the run lock.
install(FILES ${QLR_PACKAGING_SOURCE}/qlr.ctl DESTINATION ${QLR_CONFIG_DIR})
install(DIRECTORY DESTINATION ${QLR_STATE_DIR})

qlr_install_gzipped(${CMAKE_SOURCE_DIR}/man/qlr.1 ${CMAKE_INSTALL_MANDIR}/man1)
qlr_install_gzipped(${CMAKE_SOURCE_DIR}/man/qlrmsg.1 ${CMAKE_INSTALL_MANDIR}/man1)
qlr_install_gzipped(${QLR_PACKAGING_SOURCE}/debian/changelog.Debian ${QLR_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${QLR_PACKAGING_SOURCE}/debian/copyright
        DESTINATION ${QLR_DOC_DIR})
install(FILES ${QLR_PACKAGING_SOURCE}/qlr.ctl
              ${QLR_PACKAGING_SOURCE}/examples/quillor.cron
              ${QLR_PACKAGING_SOURCE}/examples/quillor.service
              ${QLR_PACKAGING_SOURCE}/examples/quillor.timer
        DESTINATION ${QLR_DOC_DIR}/examples)

# The maintainer scripts and the conffile list, with the paths of this
# configuration.
foreach(script conffiles prerm postrm)
  configure_file(${QLR_PACKAGING_SOURCE}/debian/${script}.in ${QLR_PACKAGING_BINARY}/${script} @ONLY)
endforeach()
file(CHMOD ${QLR_PACKAGING_BINARY}/prerm ${QLR_PACKAGING_BINARY}/postrm
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
# One .deb per component, each named as the package it holds.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs dev)
set(CPACK_PACKAGE_NAME quillor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quillor maintainers <maintainers@quillor.invalid>")
# Each description's first line is its package's summary (no common
# CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it above both).
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME quillor)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "rotation of FidoNet-technology message bases
quillor counts the messages of JAM, Squish, *.MSG and type-2 packet bases
and rotates every base that has grown past a limit: it copies the base into
a new numbered directory, empties it in place and, in pack mode, hands the
copy to an archiver. A base is emptied only after its copy is on stable
storage. qlrmsg lists, shows and copies single messages for scripts.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME quillor-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "library for FidoNet-technology message bases (development files)
The message-base library of quillor for C++20 programs: one object model
over JAM, Squish, *.MSG directories and type-2 packets, with opening by
base spec, whole-base copy and erase, FTN addresses and dates. Static
libraries, headers, a CMake package (find_package(quillor), target
quillor::msgbase) and a pkg-config file (quillor).")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (/etc, /var) go into the package's tree too.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library dependencies (libc6, libstdc++6, libgcc-s1) are read from the
# programs by dpkg-shlibdeps (package dpkg-dev). quillor-dev holds no
# program: static libraries are linked into the caller's.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_CONTROL_EXTRA
    ${QLR_PACKAGING_BINARY}/conffiles ${QLR_PACKAGING_BINARY}/prerm ${QLR_PACKAGING_BINARY}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
