# Windows targets: quillon2.exe, the Win32 glue library and the tests run under Wine.
enable_language(RC)

# Win32 glue of the core folders (*_win.cpp): the link, the script runner's window side, the upgrade worker.
set(GLUE_SOURCES)
foreach(dir IN LISTS CORE_DIRS)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*_win.cpp)
  list(APPEND GLUE_SOURCES ${srcs})
endforeach()
add_library(glue STATIC ${GLUE_SOURCES})
target_link_libraries(glue PUBLIC core ws2_32 comctl32 comdlg32 gdi32 user32 kernel32)

# The application shell, less its entry point, so that tests can link it too.
file(GLOB APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
list(FILTER APP_SOURCES EXCLUDE REGEX "/winmain\\.cpp$")
add_library(appshell STATIC ${APP_SOURCES})
target_link_libraries(appshell PUBLIC glue)
target_include_directories(appshell PUBLIC ${CMAKE_SOURCE_DIR})

# The core calls its seams, which the shell and the glue implement: link them as one group.
set(PRODUCT_LIBS -Wl,--start-group appshell glue ${CORE_LIBS} -Wl,--end-group
    ws2_32 comctl32 comdlg32 gdi32 user32 kernel32)

add_executable(quillon2 WIN32 app/winmain.cpp res/app.rc)
target_link_libraries(quillon2 PRIVATE ${PRODUCT_LIBS})
add_dependencies(quillon2 appshell glue ${CORE_LIBS})
set_target_properties(quillon2 PROPERTIES OUTPUT_NAME quillon2)

# --- Tests under Wine -------------------------------------------------------------------
set(QUILLON_SIM ${CMAKE_SOURCE_DIR}/build/host/sim/quillon-sim CACHE FILEPATH "Native simulator binary")
# The test environment's display and simulator addresses; a second checkout tested at the same
# time on this machine picks others (e.g. -DQUILLON_XDISPLAY=94 -DQUILLON_SIM_LAN=127.0.0.2
# -DQUILLON_SIM_CONTROL=127.0.0.1:10102).
set(QUILLON_XDISPLAY 93 CACHE STRING "Xvfb display number used by the tests")
set(QUILLON_SIM_LAN 127.0.0.1 CACHE STRING "Loopback address of the simulator's LAN side (port 10001)")
set(QUILLON_SIM_CONTROL 127.0.0.1:10100 CACHE STRING "Address and port of the simulator's control channel")
set(WINE_TEST_ENV
  "WINEPREFIX=${CMAKE_SOURCE_DIR}/build/wineprefix"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "DISPLAY=:${QUILLON_XDISPLAY}"
  "QSIM_CONTROL=${QUILLON_SIM_CONTROL}"
  "QSIM_COM=COM5"
  "QSIM_LAN=${QUILLON_SIM_LAN}"
  "QUILLON_BUILD=${CMAKE_BINARY_DIR}"
  "QUILLON_SOURCE=${CMAKE_SOURCE_DIR}")

# One environment (Xvfb, a persistent wineserver, the simulator) for the whole run.
add_test(NAME ${QUILLON_TEST_PREFIX}env_up
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/testenv.sh up ${QUILLON_SIM})
add_test(NAME ${QUILLON_TEST_PREFIX}env_down
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/testenv.sh down)
set_tests_properties(${QUILLON_TEST_PREFIX}env_up PROPERTIES FIXTURES_SETUP wineenv ENVIRONMENT "${WINE_TEST_ENV}" TIMEOUT 120)
set_tests_properties(${QUILLON_TEST_PREFIX}env_down PROPERTIES FIXTURES_CLEANUP wineenv ENVIRONMENT "${WINE_TEST_ENV}")

# The portable core's host tests, built once more for Windows: 32-bit and C runtime differences.
file(GLOB HOST_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/test_*.cpp)
file(GLOB HOST_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/support_*.cpp)
add_executable(core_tests ${HOST_TESTS} ${HOST_TEST_SUPPORT})
target_link_libraries(core_tests PRIVATE core gtest gtest_main)
target_include_directories(core_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/host)

# Win32 tests: one executable per tests/win/test_*.cpp, sharing tests/win/support_*.cpp.
file(GLOB WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/test_*.cpp)
file(GLOB WIN_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/support_*.cpp)
set(WIN_TEST_TARGETS core_tests)
foreach(src IN LISTS WIN_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} ${WIN_TEST_SUPPORT} ${CMAKE_SOURCE_DIR}/res/app.rc)
  target_link_libraries(${name} PRIVATE ${PRODUCT_LIBS} gtest gtest_main)
  add_dependencies(${name} appshell glue)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
  list(APPEND WIN_TEST_TARGETS ${name})
endforeach()
foreach(name IN LISTS WIN_TEST_TARGETS)
  add_test(NAME ${QUILLON_TEST_PREFIX}${name} COMMAND ${name})
  set_tests_properties(${QUILLON_TEST_PREFIX}${name} PROPERTIES
    FIXTURES_REQUIRED wineenv RESOURCE_LOCK instrument TIMEOUT 600
    ENVIRONMENT "${WINE_TEST_ENV}")
endforeach()

# Script-driven Win32 tests (tests/win/*.sh, given the folder of the test programs).
file(GLOB WIN_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.sh)
foreach(src IN LISTS WIN_SCRIPT_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_test(NAME ${QUILLON_TEST_PREFIX}${name} COMMAND bash ${src} ${CMAKE_BINARY_DIR})
  set_tests_properties(${QUILLON_TEST_PREFIX}${name} PROPERTIES
    FIXTURES_REQUIRED wineenv RESOURCE_LOCK instrument TIMEOUT 300
    ENVIRONMENT "${WINE_TEST_ENV}")
endforeach()

# End-to-end tests: the real quillon2.exe driven from outside (tests/e2e/*.sh) with the help of
# qdrive.exe (finds windows, reads texts, presses buttons) and xdotool (types).
add_executable(qdrive tests/e2e/qdrive.cpp)
target_link_libraries(qdrive PRIVATE comctl32 user32)
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/e2e_*.sh)
foreach(src IN LISTS E2E_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_test(NAME ${QUILLON_TEST_PREFIX}${name} COMMAND bash ${src} ${CMAKE_BINARY_DIR})
  set_tests_properties(${QUILLON_TEST_PREFIX}${name} PROPERTIES
    FIXTURES_REQUIRED wineenv RESOURCE_LOCK instrument TIMEOUT 600
    ENVIRONMENT "${WINE_TEST_ENV}")
endforeach()

# The headless script runner, quillon2-run.exe (run/).
if(EXISTS ${CMAKE_SOURCE_DIR}/run/CMakeLists.txt)
  add_subdirectory(run)
endif()

# Benchmarks that need the Win32 product (bench/bench_*_win.cpp): programs that print figures.
file(GLOB WIN_BENCHES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/bench_*_win.cpp)
foreach(src IN LISTS WIN_BENCHES)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/win/support_simctl.cpp ${CMAKE_SOURCE_DIR}/res/app.rc)
  target_link_libraries(${name} PRIVATE ${PRODUCT_LIBS} gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
  add_dependencies(${name} appshell glue)
endforeach()
