# tarnix_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [QT])
#
# One test executable per unit. Every test runs with the C locale pinned
# (collation and number formats decide results), with the fixture folder
# known, and with registry, mail store and home redirected into the build
# tree so that no test can touch the user's own settings or mail. QT marks a
# test that needs a QCoreApplication/QApplication: it gets its own main that
# creates one on the offscreen platform.
include(GoogleTest)

function(tarnix_add_test name)
    cmake_parse_arguments(T "QT" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    if(T_QT)
        target_link_libraries(${name} PRIVATE tarnix_test_qtmain)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    target_compile_definitions(${name} PRIVATE
        TARNIX_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
        TARNIX_CORPUS_DIR="${TARNIX_CORPUS_DIR}"
        TARNIX_BINARY_DIR="${PROJECT_BINARY_DIR}")
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    set(home "${PROJECT_BINARY_DIR}/test-home/${name}")
    file(MAKE_DIRECTORY "${home}/run" "${home}/.config")
    file(CHMOD "${home}/run" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    # The environment is given through the test launcher rather than the
    # ENVIRONMENT property: gtest_discover_tests keeps only the first item of
    # a list property, and the launcher also covers the discovery run.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
        "${CMAKE_COMMAND};-E;env;LC_ALL=C;TZ=UTC;QT_QPA_PLATFORM=offscreen;HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_RUNTIME_DIR=${home}/run;TARNIX_REGISTRY_DIR=${home}/registry;MAILDIR=${home}/Maildir")
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${T_LABELS}")
endfunction()
