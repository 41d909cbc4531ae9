# Windows targets: quillon2.exe and quillon2-run.exe, each made of its entry point, one front
# end that supplies every seam of the portable layers, and those layers; then the tests under
# Wine and the benchmarks.
enable_language(RC)

# The Win32 glue both programs share: the link's transports, the comms log's output, the LAN
# search's queries, the settings file and the script runner's clock and beep.
set(SHARED_GLUE
  ${CMAKE_SOURCE_DIR}/link/link_win.cpp ${CMAKE_SOURCE_DIR}/link/commslog_win.cpp
  ${CMAKE_SOURCE_DIR}/link/lan_find_win.cpp
  ${CMAKE_SOURCE_DIR}/app/settings_win.cpp
  ${CMAKE_SOURCE_DIR}/script/script_host_win.cpp)

# The window's front end: the main window and its dialogs, and the dialogs and worker thread of
# the upgrade. Tests link it too: they run the real window.
add_library(window_front OBJECT ${SHARED_GLUE}
  common/textutil_win.cpp
  app/ui_win.cpp app/main_window_win.cpp app/console_win.cpp app/about_win.cpp app/file_dlg_win.cpp
  app/info_panel_win.cpp app/connect_dlg_win.cpp app/lan_find_win.cpp
  upgrade/upgrade_dlg_win.cpp upgrade/filefacts_win.cpp)
target_link_libraries(window_front PUBLIC core_script core_upgrade
  ws2_32 comctl32 comdlg32 gdi32 user32 kernel32)

add_executable(quillon2 WIN32 app/winmain_win.cpp res/app.rc)
target_link_libraries(quillon2 PRIVATE window_front)

# quillon2-run.exe, the headless script runner (run/).
add_subdirectory(run)

# --- Tests under Wine -----------------------------------------------------------------------
# The simulator is the native one of the host tree beside this one (build/host next to
# build/win32), unless -DQUILLON_SIM names another.
get_filename_component(QUILLON_SIM_DEFAULT ${CMAKE_BINARY_DIR}/../host/sim/quillon-sim ABSOLUTE)
set(QUILLON_SIM ${QUILLON_SIM_DEFAULT} CACHE FILEPATH "Native simulator binary (quillon-sim of a host build)")
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
  "QUILLON_SIM=${QUILLON_SIM}"
  "QUILLON_BUILD=${CMAKE_BINARY_DIR}"
  "QUILLON_SOURCE=${CMAKE_SOURCE_DIR}")
add_subdirectory(tests)

# Benchmarks: programs that print figures (bench/).
add_subdirectory(bench)
