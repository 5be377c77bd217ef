# What `cmake --install` puts under the prefix, and the packages CPack makes
# of it:
#   libexec/support-draft/SupportDraft.app   the bundle
#   bin/support-draft-host                   the command for hosts
#   lib/.../libsupport-draft-host.a, include/support_draft_host.h
#   lib/.../cmake/SupportDraft/              find_package(SupportDraft)
#   share/man/man1/                          support-draft(1), support-draft-host(1)
#   share/doc/support-draft/                 copyright, changelog
if(SUPPORT_DRAFT_FUZZ)
  return()
endif()
include(CMakePackageConfigHelpers)

set(SUPPORT_DRAFT_BUNDLE_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR}/support-draft/SupportDraft.app)
set(SUPPORT_DRAFT_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SupportDraft)
set(SUPPORT_DRAFT_DOC_INSTALL_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/support-draft)

install(FILES ${BUNDLE_DIR}/Contents/Info.plist DESTINATION ${SUPPORT_DRAFT_BUNDLE_INSTALL_DIR}/Contents)
install(TARGETS support-draft support-draft-portal support-draft-terminal RUNTIME DESTINATION ${SUPPORT_DRAFT_BUNDLE_INSTALL_DIR}/Contents/MacOS)
install(FILES ${BUNDLE_DIR}/Contents/Resources/support-mail.applescript
        DESTINATION ${SUPPORT_DRAFT_BUNDLE_INSTALL_DIR}/Contents/Resources)

install(TARGETS support-draft-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS support_draft_host EXPORT SupportDraftTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/host/support_draft_host.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT SupportDraftTargets NAMESPACE SupportDraft:: DESTINATION ${SUPPORT_DRAFT_CMAKE_INSTALL_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/SupportDraftConfig.cmake.in
  ${CMAKE_BINARY_DIR}/SupportDraftConfig.cmake
  INSTALL_DESTINATION ${SUPPORT_DRAFT_CMAKE_INSTALL_DIR}
  PATH_VARS SUPPORT_DRAFT_BUNDLE_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/SupportDraftConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/SupportDraftConfig.cmake ${CMAKE_BINARY_DIR}/SupportDraftConfigVersion.cmake
        DESTINATION ${SUPPORT_DRAFT_CMAKE_INSTALL_DIR})

# Manual pages and the changelog are installed compressed, without a time
# stamp, as Debian wants them.
set(COMPRESSED_DOCS)
foreach(source man/support-draft.1 man/support-draft-host.1 packaging/changelog)
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
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/compressed/changelog.gz
        DESTINATION ${SUPPORT_DRAFT_DOC_INSTALL_DIR})

# Packages: scripts/package.sh configures a prod build and runs CPack.
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_PACKAGE_NAME support-draft)
set(CPACK_PACKAGE_VENDOR "the support-draft project")
set(CPACK_PACKAGE_CONTACT "support-draft project <support-draft@users.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "helper that opens a pre-filled support e-mail draft")
set(CPACK_PACKAGE_FILE_NAME support-draft-${PROJECT_VERSION}-${SUPPORT_DRAFT_CHANNEL})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-email makes the hand-off; the host library needs the Unicode and the
# property list libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, libutf8proc2, libplist3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The synopsis comes from the summary above; this is the extended text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A faceless helper program that a host application carries in its bundle
to open a support e-mail draft (subject, body and, optionally, the host's
log as an attachment) in the user's mail client. The package holds the
bundle (${SUPPORT_DRAFT_CHANNEL} channel), the support-draft-host command,
and a C++ library with a CMake package configuration for hosts.")
include(CPack)
