# The message-base library for other programs (install component "dev",
# the package quillor-dev):
#
#   <prefix>/include/quillor/quillor.h          the entry header
#   <prefix>/include/quillor/msgbase/...        the headers it includes,
#   <prefix>/include/quillor/platform/... ...   in their source layout
#   <prefix>/<libdir>/libqlr_*.a                 the layer libraries
#   <prefix>/<libdir>/cmake/quillor/            find_package(quillor)
#   <prefix>/<libdir>/pkgconfig/quillor.pc      pkg-config quillor
#
# A program links quillor::msgbase, which brings every format and the
# layers below. The headers include each other as "msgbase/message.h"
# and so on, so both include/quillor and include are on the include path:
# <quillor/quillor.h> and "msgbase/open_base.h" both resolve.
#
# Only the headers that quillor.h reaches are installed: the list is read
# from its include lines and those of each header they name, so a header
# that a public one starts to include is installed with it. The others
# (the formats' own classes, the application layer) stay private.

include(CMakePackageConfigHelpers)

set(QLR_LIB_COMPONENT dev)
set(QLR_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillor)
set(QLR_ENTRY_HEADER ${CMAKE_SOURCE_DIR}/include/quillor/quillor.h)

# The headers of src/ that `file` includes with quotes, relative to src/.
function(qlr_quoted_includes file out)
  file(STRINGS ${file} lines REGEX "^#include \"")
  set(found)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*$" "\\1" header "${line}")
    list(APPEND found ${header})
  endforeach()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  set(${out} ${found} PARENT_SCOPE)
endfunction()

qlr_quoted_includes(${QLR_ENTRY_HEADER} qlr_pending)
set(QLR_INSTALLED_HEADERS)
while(qlr_pending)
  list(POP_FRONT qlr_pending qlr_header)
  if(qlr_header IN_LIST QLR_INSTALLED_HEADERS)
    continue()
  endif()
  if(NOT EXISTS ${CMAKE_SOURCE_DIR}/src/${qlr_header})
    message(FATAL_ERROR "${qlr_header}, included by an installed header, is not in src/")
  endif()
  list(APPEND QLR_INSTALLED_HEADERS ${qlr_header})
  qlr_quoted_includes(${CMAKE_SOURCE_DIR}/src/${qlr_header} qlr_more)
  list(APPEND qlr_pending ${qlr_more})
endwhile()
list(SORT QLR_INSTALLED_HEADERS)

install(FILES ${QLR_ENTRY_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillor
        COMPONENT ${QLR_LIB_COMPONENT})
foreach(qlr_header IN LISTS QLR_INSTALLED_HEADERS)
  get_filename_component(qlr_header_dir ${qlr_header} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/src/${qlr_header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillor/${qlr_header_dir}
          COMPONENT ${QLR_LIB_COMPONENT})
endforeach()

# The library as a caller links it: every format, and the layers below
# through the dependencies of qlr_formats.
add_library(qlr_library INTERFACE)
target_link_libraries(qlr_library INTERFACE qlr_formats)
target_include_directories(qlr_library INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# The headers need C++20 (std::span among others).
target_compile_features(qlr_library INTERFACE cxx_std_20)

# Installed name of each library target, in link order (a library before
# those it needs), as pkg-config lists them.
# The formats are those CMakeLists.txt found among the directories.
set(QLR_LIBRARY_TARGETS qlr_formats:formats)
foreach(qlr_format_target IN LISTS QLR_FORMAT_LIBRARIES)
  string(REGEX REPLACE "^qlr_" "" qlr_format_export ${qlr_format_target})
  list(APPEND QLR_LIBRARY_TARGETS ${qlr_format_target}:${qlr_format_export})
endforeach()
list(APPEND QLR_LIBRARY_TARGETS
  qlr_msgbase:msgbase_core qlr_util:util qlr_support:support qlr_platform:platform)
set(qlr_targets qlr_library)
set(QLR_PC_LIBS)
foreach(qlr_entry IN LISTS QLR_LIBRARY_TARGETS)
  string(REPLACE ":" ";" qlr_pair ${qlr_entry})
  list(GET qlr_pair 0 qlr_target)
  list(GET qlr_pair 1 qlr_export)
  set_target_properties(${qlr_target} PROPERTIES EXPORT_NAME ${qlr_export})
  list(APPEND qlr_targets ${qlr_target})
  string(APPEND QLR_PC_LIBS " -l${qlr_target}")
endforeach()
set_target_properties(qlr_library PROPERTIES EXPORT_NAME msgbase)
foreach(qlr_lib IN LISTS CMAKE_DL_LIBS)
  string(APPEND QLR_PC_LIBS " -l${qlr_lib}")
endforeach()

install(TARGETS ${qlr_targets} EXPORT quillorTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${QLR_LIB_COMPONENT})
# A stripped install (the package) drops the debug sections of the archives
# but keeps their symbols, which the caller's link needs.
if(CMAKE_STRIP)
  foreach(qlr_target IN LISTS qlr_targets)
    get_target_property(qlr_type ${qlr_target} TYPE)
    if(qlr_type STREQUAL "STATIC_LIBRARY")
      install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
          execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${qlr_target}>\"
            RESULT_VARIABLE qlr_rc)
          if(NOT qlr_rc EQUAL 0)
            message(FATAL_ERROR \"strip of $<TARGET_FILE_NAME:${qlr_target}> failed: \${qlr_rc}\")
          endif()
        endif()" COMPONENT ${QLR_LIB_COMPONENT})
    endif()
  endforeach()
endif()
install(EXPORT quillorTargets NAMESPACE quillor:: DESTINATION ${QLR_CMAKE_PACKAGE_DIR}
        COMPONENT ${QLR_LIB_COMPONENT})

configure_package_config_file(${QLR_PACKAGING_SOURCE}/dev/quillorConfig.cmake.in
  ${QLR_PACKAGING_BINARY}/quillorConfig.cmake INSTALL_DESTINATION ${QLR_CMAKE_PACKAGE_DIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file(${QLR_PACKAGING_BINARY}/quillorConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${QLR_PACKAGING_BINARY}/quillorConfig.cmake
              ${QLR_PACKAGING_BINARY}/quillorConfigVersion.cmake
        DESTINATION ${QLR_CMAKE_PACKAGE_DIR} COMPONENT ${QLR_LIB_COMPONENT})

configure_file(${QLR_PACKAGING_SOURCE}/dev/quillor.pc.in ${QLR_PACKAGING_BINARY}/quillor.pc @ONLY)
install(FILES ${QLR_PACKAGING_BINARY}/quillor.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT ${QLR_LIB_COMPONENT})
