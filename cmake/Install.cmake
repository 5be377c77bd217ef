# What `cmake --install` puts under the prefix, in three components, one
# for each Debian package that scripts/package.sh makes of them:
#   program      support-draft
#                  libexec/support-draft/SupportDraft.app   the bundle
#                  bin/support-draft-host                   the command for hosts
#                  share/man/man1/                          support-draft(1), support-draft-host(1)
#                  share/doc/support-draft/                 README, copyright, changelog,
#                                                           docs/ (what the README links to)
#   library      libsupport-draft-host0
#                  lib/<multiarch>/libsupport-draft-host.so.0 (and the file it names)
#   development  support-draft-dev
#                  include/support-draft/                   the host library's headers
#                  lib/<multiarch>/libsupport-draft-host.{a,so}
#                  lib/<multiarch>/cmake/SupportDraft/      find_package(SupportDraft) and
#                                                           support_draft_add_bundle()
#                  lib/<multiarch>/pkgconfig/support-draft-host.pc
#   python       python3-support-draft
#                  lib/python3/dist-packages/support_draft/ the Python package over the
#                                                           shared library
# Each package's documentation directory holds the copyright file and the
# changelog, as Debian wants for every package.
if(SUPPORT_DRAFT_FUZZ)
  return()
endif()
include(CMakePackageConfigHelpers)

set(SUPPORT_DRAFT_INCLUDE_INSTALL_DIR ${CMAKE_INSTALL_INCLUDEDIR}/support-draft)
foreach(library support_draft_host support_draft_host_shared)
  # Installed, the headers are in their own directory. The C++ layer needs
  # C++17, so a C++ host compiled for an older standard is raised to it
  # rather than stopped inside the header.
  target_include_directories(${library} INTERFACE $<INSTALL_INTERFACE:${SUPPORT_DRAFT_INCLUDE_INSTALL_DIR}>)
  target_compile_features(${library} INTERFACE cxx_std_17)
endforeach()

set(SUPPORT_DRAFT_BUNDLE_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR}/support-draft/SupportDraft.app)
set(SUPPORT_DRAFT_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SupportDraft)
set(SUPPORT_DRAFT_HOST_COMMAND_INSTALL_PATH ${CMAKE_INSTALL_BINDIR}/support-draft-host)

# The program package.
install(FILES ${BUNDLE_DIR}/Contents/Info.plist
        DESTINATION ${SUPPORT_DRAFT_BUNDLE_INSTALL_DIR}/Contents COMPONENT program)
install(TARGETS support-draft support-draft-portal support-draft-terminal support-draft-flatpak support-draft-desktop
                support-draft-watcher
        RUNTIME DESTINATION ${SUPPORT_DRAFT_BUNDLE_INSTALL_DIR}/Contents/MacOS COMPONENT program)
install(FILES ${BUNDLE_DIR}/Contents/Resources/support-mail.applescript
        DESTINATION ${SUPPORT_DRAFT_BUNDLE_INSTALL_DIR}/Contents/Resources COMPONENT program)
install(TARGETS support-draft-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)

# The library packages. SupportDraft::host is the archive,
# SupportDraft::host_shared the shared library.
install(TARGETS support_draft_host_shared EXPORT SupportDraftTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
install(TARGETS support_draft_host EXPORT SupportDraftTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The C header and its C++ layer; the other headers in host/ are the
# library's own.
install(FILES ${PROJECT_SOURCE_DIR}/host/support_draft_host.h ${PROJECT_SOURCE_DIR}/host/support_draft_host.hpp
        DESTINATION ${SUPPORT_DRAFT_INCLUDE_INSTALL_DIR} COMPONENT development)
install(EXPORT SupportDraftTargets NAMESPACE SupportDraft::
        DESTINATION ${SUPPORT_DRAFT_CMAKE_INSTALL_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/SupportDraftConfig.cmake.in
  ${CMAKE_BINARY_DIR}/SupportDraftConfig.cmake
  INSTALL_DESTINATION ${SUPPORT_DRAFT_CMAKE_INSTALL_DIR}
  PATH_VARS SUPPORT_DRAFT_BUNDLE_INSTALL_DIR SUPPORT_DRAFT_HOST_COMMAND_INSTALL_PATH)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/SupportDraftConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/SupportDraftConfig.cmake ${CMAKE_BINARY_DIR}/SupportDraftConfigVersion.cmake
        DESTINATION ${SUPPORT_DRAFT_CMAKE_INSTALL_DIR} COMPONENT development)

# The Python package: plain sources, the same for every architecture, in
# the directory Debian's python3 reads for every version. Under another
# prefix, point SUPPORT_DRAFT_PYTHON_INSTALL_DIR at a directory on sys.path.
set(SUPPORT_DRAFT_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
    "Where the support_draft Python package is installed, relative to the prefix")
set(PYTHON_PACKAGE_FILES __init__.py _codes.py _handle.py _jobs.py _library.py py.typed)
list(TRANSFORM PYTHON_PACKAGE_FILES PREPEND ${PROJECT_SOURCE_DIR}/host/python/support_draft/)
install(FILES ${PYTHON_PACKAGE_FILES}
        DESTINATION ${SUPPORT_DRAFT_PYTHON_INSTALL_DIR}/support_draft COMPONENT python)

# pkg-config: the shared library by default, the archive with --static.
set(PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR}/support-draft)
configure_file(${PROJECT_SOURCE_DIR}/packaging/support-draft-host.pc.in
               ${CMAKE_BINARY_DIR}/support-draft-host.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/support-draft-host.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# Manual pages, the README, the documents it links to and the changelog
# are installed compressed, without a time stamp, as Debian wants them.
set(COMPRESSED_DOCS)
set(LINKED_DOCS docs/host-kit.md docs/routes.md docs/development.md)
foreach(source man/support-draft.1 man/support-draft-host.1 packaging/changelog README.md ${LINKED_DOCS})
  get_filename_component(name ${source} NAME)
  set(compressed ${CMAKE_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/compressed
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/${source} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND COMPRESSED_DOCS ${compressed})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${COMPRESSED_DOCS})
install(FILES ${CMAKE_BINARY_DIR}/compressed/support-draft.1.gz ${CMAKE_BINARY_DIR}/compressed/support-draft-host.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${CMAKE_BINARY_DIR}/compressed/README.md.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/support-draft COMPONENT program)
foreach(source ${LINKED_DOCS})
  get_filename_component(name ${source} NAME)
  install(FILES ${CMAKE_BINARY_DIR}/compressed/${name}.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/support-draft/docs COMPONENT program)
endforeach()
foreach(component_package program:support-draft library:libsupport-draft-host0 development:support-draft-dev
                          python:python3-support-draft)
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/compressed/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
