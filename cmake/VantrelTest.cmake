add_library(vantrel_test_printers INTERFACE)
target_include_directories(vantrel_test_printers INTERFACE ${CMAKE_SOURCE_DIR}/tests/support)

# The two environments every test runs in: the C locale, and the operators' own (Russian
# locale, Moscow time, whose 2009 daylight-saving nights the tests look at).
set(VANTREL_TEST_ENV_c LANG=C.UTF-8 LC_ALL=C.UTF-8)
set(VANTREL_TEST_ENV_ru LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 TZ=Europe/Moscow)

# vantrel_add_test(NAME SOURCES... LIBS ... [BUS])
# A GoogleTest binary registered with CTest once per environment above (NAME.c, NAME.ru). BUS
# runs it inside a private D-Bus session bus of its own, so tests that own service names never
# meet each other.
function(vantrel_add_test name)
    cmake_parse_arguments(T "BUS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/ProcessLocale.cpp)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set(command $<TARGET_FILE:${name}>)
    if(T_BUS)
        set(command dbus-run-session -- $<TARGET_FILE:${name}>)
    endif()
    foreach(suffix c ru)
        add_test(NAME ${name}.${suffix} COMMAND ${command})
        set_tests_properties(${name}.${suffix} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTREL_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VANTREL_SHARED_DATA=${CMAKE_SOURCE_DIR}/../shared/data;${VANTREL_TEST_ENV_${suffix}}"
            TIMEOUT 600)
    endforeach()
endfunction()
