add_library(vantrel_test_printers INTERFACE)
target_include_directories(vantrel_test_printers INTERFACE ${CMAKE_SOURCE_DIR}/tests/support)

# vantrel_add_test(NAME SOURCES... LIBS ... [BUS])
# A GoogleTest binary registered with CTest. BUS runs it inside a private D-Bus session bus of
# its own, so tests that own service names never meet each other.
function(vantrel_add_test name)
    cmake_parse_arguments(T "BUS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(T_BUS)
        add_test(NAME ${name} COMMAND dbus-run-session -- $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTREL_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VANTREL_SHARED_DATA=${CMAKE_SOURCE_DIR}/../shared/data"
        TIMEOUT 600)
endfunction()
