include(GoogleTest)
find_package(GTest REQUIRED)

# varnel_add_test_suite(<name> SOURCES ... [LIBRARIES ...] [QT] [TIMEOUT seconds] [RESOURCE_LOCK name])
# One GoogleTest executable per module, each test registered with ctest on its own. RESOURCE_LOCK keeps
# its tests from running beside each other (they share files of the build tree).
# QT gives the suite the shared main that creates a QApplication on the offscreen platform.
function(varnel_add_test_suite name)
    cmake_parse_arguments(ARG "QT" "TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBRARIES" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 60)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_QT)
        target_link_libraries(${name} PRIVATE varnel_test_main_qt)
    else()
        target_link_libraries(${name} PRIVATE varnel_test_main)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock varnel_options)
    set(_lock)
    if(ARG_RESOURCE_LOCK)
        set(_lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 30
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${_lock})
endfunction()
