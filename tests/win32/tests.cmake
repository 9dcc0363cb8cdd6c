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

# Tests of the POSIX stand-ins and of things Windows does not have (fork, flock, /proc, the
# SQLite store and its editor, prctl, TZ in the environment) stay on Linux; the tests in
# tests/win32/ cover the Win32 backend in their place.
set(VANTREL_LINUX_ONLY_TESTS
  library_exports_test.cpp      # nm -D on the .so; scripts/check-windows-dll.sh checks the DLL
  registry_store_test.cpp       # the SQLite store that stands in for the registry
  reg_file_parser_test.cpp      # the .reg file reader of that editor
  reg_tool_test.cpp             # the reg.exe-style settings editor of the POSIX store
  registry_api_test.cpp         # the same store through the registry calls, file modes, groups
  platform_file_test.cpp        # fork, symbolic links, file modes
  platform_identity_test.cpp    # fork, SIGKILL, the lock-file folder of named mutexes
  platform_clock_test.cpp       # TZ through setenv, CLOCK_MONOTONIC
  timer_test.cpp                # prctl(PR_SET_TSC), fork, dlopen
  host_lifecycle_test.cpp       # POSIX host runner, fork, dropping root; see win32/win32_host_*
  host_logging_test.cpp         # POSIX host runner; see win32/win32_host_*
)
file(GLOB VANTREL_PORTABLE_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
foreach(excluded ${VANTREL_LINUX_ONLY_TESTS})
  list(REMOVE_ITEM VANTREL_PORTABLE_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
endforeach()
# A test file that includes a POSIX system header, or drives hosts through the POSIX runners
# (tests/support/host_*.cpp, not part of this build), is about Linux too; this keeps a new such
# file from breaking the Windows build before it is listed above.
foreach(candidate ${VANTREL_PORTABLE_TESTS})
  file(STRINGS ${candidate} posixIncludes
    REGEX "^#include (<(unistd|dlfcn|spawn|fcntl|signal|pthread|sys/[a-z_]+)\\.h>|\"support/host_(runner|session)\\.h\")")
  if(posixIncludes)
    list(REMOVE_ITEM VANTREL_PORTABLE_TESTS ${candidate})
  endif()
endforeach()
# The shared helpers that run on both systems; the other support/*.cpp drive POSIX processes.
file(GLOB VANTREL_WIN32_TESTS CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support/win32/*.cpp)
file(GLOB VANTREL_PORTABLE_FOLDER_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/portable/*.cpp)
list(APPEND VANTREL_WIN32_TESTS ${VANTREL_PORTABLE_FOLDER_TESTS})
list(APPEND VANTREL_WIN32_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/support/file_contents.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/service_fixture.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/settings_values.cpp)

# The host program of the end-to-end tests, which copy it with vantrel.dll into folders of
# their own and run it as separate processes.
add_executable(vantrel_test_host ${CMAKE_CURRENT_SOURCE_DIR}/hosts/test_host.cpp)
target_include_directories(vantrel_test_host PRIVATE ${CMAKE_SOURCE_DIR}/include)

add_executable(vantrel_tests ${VANTREL_PORTABLE_TESTS} ${VANTREL_WIN32_TESTS})
target_link_libraries(vantrel_tests PRIVATE vantrel_internal gtest_main gmock)
target_include_directories(vantrel_tests PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src/platform/win32)
target_compile_definitions(vantrel_tests PRIVATE
  VANTREL_LIBRARY_PATH="$<TARGET_FILE:vantrel>"
  VANTREL_TEST_HOST_PATH="$<TARGET_FILE:vantrel_test_host>"
  VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(vantrel_tests vantrel vantrel_test_host)

# Cases of the portable files that cannot hold on Windows, with the reason:
# - they read a log's file while the log holds it open; the Windows file is opened without
#   sharing, so nobody else can read it until it is closed;
# - they build folder paths with "/" and expect the folder to be split or trimmed at "/", while
#   the Windows backend's separator is "\" (the library only ever builds "\" paths there).
set(VANTREL_LINUX_ONLY_CASES
  LogCacheTest.FlushWritesAtWritePositionAndTheNextFlushOverwritesTheSummary
  LogCacheTest.LargeBlocksAreWrittenInPiecesOfOneMebibyte
  LogCacheTest.AFailedWriteKeepsCacheAndPositionAndLeavesNoStaleTail
  LogCacheTest.AFlushThatCannotOpenOrPositionTheFileWritesNothing
  LogFileWriterTest.OpenNamesTheFolderAndFileAndCreatesTheFolders
  LogFileWriterTest.CreateFolderPathCreatesEveryMissingLevelAndStopsAtAFile
  ServiceConfigTest.FreshStoreGetsTheEightSettingsAndTheFolder
)
list(JOIN VANTREL_LINUX_ONLY_CASES ":" VANTREL_LINUX_ONLY_FILTER)
add_test(NAME vantrel_tests COMMAND vantrel_tests --gtest_filter=-${VANTREL_LINUX_ONLY_FILTER})
set_tests_properties(vantrel_tests PROPERTIES ENVIRONMENT "VANTREL_TEST_SCRATCH_REGISTRY=1;WINEDEBUG=-all")
add_test(NAME DllExportsAndImports
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-windows-dll.sh $<TARGET_FILE:vantrel>)
