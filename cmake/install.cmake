# Install rules: the libraries with their headers under include/ferrolink,
# the CMake package (find_package(Ferrolink 1.0 CONFIG)) and the pkg-config
# file; the programs and their help file when they are built; the guide and
# the reference.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FERROLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Ferrolink)

install(TARGETS ferrolink EXPORT FerrolinkTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT FerrolinkTargets NAMESPACE Ferrolink:: DESTINATION ${FERROLINK_CMAKE_DIR})

if(TARGET ferrolink_forms)
    install(TARGETS ferrolink_forms EXPORT FerrolinkFormsTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(EXPORT FerrolinkFormsTargets NAMESPACE Ferrolink:: DESTINATION ${FERROLINK_CMAKE_DIR})
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/FerrolinkConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/FerrolinkConfig.cmake
    INSTALL_DESTINATION ${FERROLINK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/FerrolinkConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/FerrolinkConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/FerrolinkConfigVersion.cmake
    DESTINATION ${FERROLINK_CMAKE_DIR})

# A static library needs QtCore and OpenSSL at the program's link; a shared one only at
# its own.
get_target_property(ferrolink_type ferrolink TYPE)
if(ferrolink_type STREQUAL "STATIC_LIBRARY")
    set(FERROLINK_PC_REQUIRES "Requires: Qt6Core libssl libcrypto")
    set(FERROLINK_PC_LIBS_PRIVATE "-pthread")
    set(FERROLINK_PC_LIBS "-L\${libdir} -lferrolink -pthread")
else()
    set(FERROLINK_PC_REQUIRES "Requires.private: Qt6Core libssl libcrypto")
    set(FERROLINK_PC_LIBS "-L\${libdir} -lferrolink")
endif()
# The prefix is found from the file's own place, so that an install with
# --prefix, or a moved one, stays right.
file(RELATIVE_PATH FERROLINK_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ferrolink.pc.in ${CMAKE_CURRENT_BINARY_DIR}/ferrolink.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ferrolink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET qbmsg)
    install(TARGETS Sendwell Takewell qbmsg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # Sendwell opens its help file from its own folder.
    install(FILES ${PROJECT_SOURCE_DIR}/sender/QBMSG.HLP DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/cli/qbmsg.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The guide and, where Doxygen made it, the reference, in the package's
# documentation folder (share/doc/Ferrolink).
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(FERROLINK_REFERENCE_BUILT)
    install(DIRECTORY ${PROJECT_BINARY_DIR}/docs/html/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/reference)
endif()
