# The test suite of the Windows builds: GoogleTest built from source with the cross compiler,
# one test program that runs once under Wine (a Wine start costs seconds, so there is no
# process per test), and the export and import check of the DLL.

set(VANTREL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VANTREL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own targets build with warnings this project turns into errors.
foreach(target gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -Wno-error)
endforeach()

# Where a test runs is chosen by its folder: portable/ and win32/ run here.
file(GLOB VANTREL_WIN32_TESTS CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/portable/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support/win32/*.cpp)
# The settings editor's runner drives the POSIX editor; it moves to support/posix/ with its tests.
list(FILTER VANTREL_WIN32_TESTS EXCLUDE REGEX "reg_tool_runner")

# The host program of the end-to-end tests, which copy it with vantrel.dll into folders of
# their own and run it as separate processes.
add_executable(vantrel_test_host ${CMAKE_CURRENT_SOURCE_DIR}/hosts/host.cpp)

add_executable(vantrel_tests ${VANTREL_WIN32_TESTS})
target_link_libraries(vantrel_tests PRIVATE vantrel_internal gtest_main gmock)
target_include_directories(vantrel_tests PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src/platform/win32)
target_compile_definitions(vantrel_tests PRIVATE
  VANTREL_LIBRARY_PATH="$<TARGET_FILE:vantrel>"
  VANTREL_TEST_HOST_PATH="$<TARGET_FILE:vantrel_test_host>"
  VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(vantrel_tests vantrel vantrel_test_host)

add_test(NAME vantrel_tests COMMAND vantrel_tests)
set_tests_properties(vantrel_tests PROPERTIES ENVIRONMENT "VANTREL_TEST_SCRATCH_REGISTRY=1;WINEDEBUG=-all")
add_test(NAME DllExportsAndImports
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-windows-dll.sh $<TARGET_FILE:vantrel>)
