# The Windows programs under wine (Debian: wine, wine64), from the cross build's own tests:
# `ctest --test-dir build-win -L hardware`. The native build (KINETRON_NATIVE_BIN_DIR, by
# default build/bin beside this one) gives servosim and the outputs to compare with; without
# it the tests skip. They run one at a time in one wine prefix inside the build tree.
find_program(KINETRON_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(KINETRON_WINESERVER NAMES wineserver PATHS /usr/lib/wine)
if(NOT KINETRON_WINE OR NOT KINETRON_WINESERVER)
  message(STATUS "wine not found: the Windows programs are not tested here")
  return()
endif()
set(KINETRON_NATIVE_BIN_DIR ${CMAKE_SOURCE_DIR}/build/bin CACHE PATH
    "bin/ of a native build of this tree, for the Windows tests under wine")

set(wine_script ${CMAKE_CURRENT_LIST_DIR}/wine_test.sh)
set(wine_env WINE=${KINETRON_WINE} WINE_SERVER=${KINETRON_WINESERVER}
    WIN_BIN=${CMAKE_BINARY_DIR}/bin NATIVE_BIN=${KINETRON_NATIVE_BIN_DIR}
    SOURCE_DIR=${CMAKE_SOURCE_DIR} WORK=${CMAKE_BINARY_DIR}/wine OBJDUMP=${CMAKE_OBJDUMP})

function(wine_test name)
  add_test(NAME Wine.${name} COMMAND bash ${wine_script} ${ARGN})
  set_tests_properties(Wine.${name} PROPERTIES ENVIRONMENT "${wine_env}" LABELS "hardware;wine"
                       RESOURCE_LOCK wine SKIP_RETURN_CODE 77 TIMEOUT 120 FIXTURES_REQUIRED wine)
endfunction()

wine_test(Imports imports)
wine_test(Usage usage)
wine_test(SimPlay sim-play)
wine_test(ComPortBaud1 com 1)
wine_test(ComPortBaud3 com 3)
wine_test(LatencyTimer latency)
wine_test(Prefix prefix)
wine_test(Stop stop)
set_tests_properties(Wine.Imports PROPERTIES FIXTURES_REQUIRED "")
set_tests_properties(Wine.Prefix PROPERTIES FIXTURES_REQUIRED "" FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(Wine.Stop PROPERTIES FIXTURES_REQUIRED "" FIXTURES_CLEANUP wine)
