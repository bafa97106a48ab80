# The suites of the Windows build, run under wine by CTest (the toolchain's
# emulator). GoogleTest comes from Debian's sources (libgtest-dev), built
# with the cross compiler. The suites grow with the Windows platform.
set(INSTALL_GTEST OFF)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_library(ferro_test_support STATIC
    support/child.cpp
    support/later.cpp
    support/peers.cpp
    support/recorder.cpp
    support/windows/application.cpp
    support/windows/peer_system.cpp)
target_include_directories(ferro_test_support PUBLIC support)
target_link_libraries(ferro_test_support PUBLIC ferrolink_internals gtest iphlpapi ws2_32)
ferrolink_warnings(ferro_test_support)

function(ferro_windows_test name)
    add_executable(${name} support/main.cpp ${ARGN})
    target_link_libraries(${name} PRIVATE ferro_test_support gmock)
    ferrolink_warnings(${name})
    # Listed when CTest runs, not at build time: a build for a system wine
    # cannot run (32-bit, without wine32) still builds.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 60)
endfunction()

ferro_windows_test(test_platform
    platform/test_classes.cpp
    platform/test_files.cpp
    platform/test_messages.cpp
    platform/test_messages_windows.cpp
    platform/test_winsock.cpp
    platform/test_winsock_loop.cpp)

ferro_windows_test(test_sockets
    sockets/test_connect.cpp
    sockets/test_core.cpp
    sockets/test_faults.cpp
    sockets/test_status.cpp
    sockets/test_tls_windows.cpp
    sockets/test_transfer.cpp)

ferro_windows_test(test_streammsg
    streammsg/test_largeform.cpp
    streammsg/test_largeform_qbmsg.cpp
    streammsg/test_receiver.cpp
    streammsg/test_sender.cpp
    streammsg/test_server.cpp)

ferro_windows_test(test_transport
    transport/test_system_socket.cpp)
target_link_libraries(test_transport PRIVATE ferrolink_transport)
target_compile_definitions(test_streammsg PRIVATE PROTOCOL_VECTORS="${PROJECT_SOURCE_DIR}/docs/protocol-vectors.txt" QBMSG="$<TARGET_FILE:qbmsg>")
add_dependencies(test_streammsg qbmsg)

# Not a test: scripts/test-windows runs it beside the suites (see its file).
add_executable(wine_keeper support/wine_keeper.cpp)
ferrolink_warnings(wine_keeper)

# A measurement, not a test: what waiting costs when nothing comes.
add_executable(idle_wait ${PROJECT_SOURCE_DIR}/bench/windows/idle_wait.cpp ${PROJECT_SOURCE_DIR}/bench/idle.cpp)
target_include_directories(idle_wait PRIVATE ${PROJECT_SOURCE_DIR}/bench)
target_link_libraries(idle_wait PRIVATE ferrolink_internals)
ferrolink_warnings(idle_wait)
