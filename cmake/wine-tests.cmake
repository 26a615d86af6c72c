# The DDE transport under Wine: a Windows build of the project in windows/ beside this build,
# cross-compiled with mingw-w64 (which also keeps the core compiling for Windows), and a test that
# runs its echo server and client in a Wine prefix of its own. Without mingw-w64 there is no
# Windows build; without it or Wine the test reports itself skipped.
find_program(RUVALDA_MINGW_CXX x86_64-w64-mingw32-g++-posix)
set(RUVALDA_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
if(RUVALDA_MINGW_CXX)
  include(ExternalProject)
  ExternalProject_Add(ruvalda_windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${RUVALDA_WINDOWS_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=Release -DRUVALDA_WERROR=${RUVALDA_WERROR}
    INSTALL_COMMAND ""
    # The sources are ours and change between builds; the inner build system knows what to redo.
    BUILD_ALWAYS ON)
else()
  message(STATUS "x86_64-w64-mingw32-g++-posix not found: no Windows build, the Wine test skips")
endif()

if(RUVALDA_TESTS)
  add_test(NAME vissim_ddeml_wine
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-ddeml.sh ${RUVALDA_WINDOWS_DIR})
  set_tests_properties(vissim_ddeml_wine PROPERTIES TIMEOUT 200 SKIP_RETURN_CODE 77)
endif()
