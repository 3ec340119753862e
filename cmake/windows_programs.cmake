# The Windows programs: korvane-sim.exe (simulated capture hardware on the port bus),
# korvane.exe (real port I/O), and the shell's test suite korvane_ui_tests.exe.
enable_language(RC)

# WinMain and the two port-bus choices belong to the programs, not to the shell library.
set(KORVANE_SHELL_LIBRARY_SOURCES ${KORVANE_SHELL_SOURCES})
list(FILTER KORVANE_SHELL_LIBRARY_SOURCES EXCLUDE REGEX "(winmain|_program)_win32\\.cpp$")

set(KORVANE_RESOURCE_SCRIPT ${CMAKE_SOURCE_DIR}/resources/korvane.rc)
set_source_files_properties(${KORVANE_RESOURCE_SCRIPT} PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/resource_ids.h;${CMAKE_SOURCE_DIR}/resources/korvane.ico;${CMAKE_SOURCE_DIR}/resources/korvane_small.ico;${CMAKE_SOURCE_DIR}/resources/rising_edge.bmp;${CMAKE_SOURCE_DIR}/resources/falling_edge.bmp")

add_library(korvane_shell STATIC ${KORVANE_SHELL_LIBRARY_SOURCES})
target_link_libraries(korvane_shell PUBLIC korvane_core comdlg32 gdi32 user32)
target_include_directories(korvane_shell PUBLIC ${CMAKE_SOURCE_DIR}/resources)

add_executable(korvane-sim WIN32
  ${CMAKE_SOURCE_DIR}/app/winmain_win32.cpp
  ${CMAKE_SOURCE_DIR}/hardware/port_bus_simulated_program_win32.cpp
  ${KORVANE_RESOURCE_SCRIPT})
target_link_libraries(korvane-sim PRIVATE korvane_shell korvane_simulator)

add_executable(korvane WIN32
  ${CMAKE_SOURCE_DIR}/app/winmain_win32.cpp
  ${CMAKE_SOURCE_DIR}/hardware/port_bus_direct_program_win32.cpp
  ${KORVANE_RESOURCE_SCRIPT})
target_link_libraries(korvane PRIVATE korvane_shell)

# The release programs leave out the debugging information (most of it the static runtime's);
# the test builds (RelWithDebInfo) keep it.
foreach(program korvane-sim korvane)
  target_link_options(${program} PRIVATE $<$<CONFIG:Release>:-s>)
endforeach()

if(KORVANE_TESTS)
  # A port driver DLL with the InpOut32 interface whose accesses reach the simulated capture
  # hardware, under the name korvane.exe loads. The end-to-end test puts it beside a copy of
  # korvane.exe; it is built into a folder of its own, so that korvane.exe in the build
  # folder still finds no driver.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KORVANE_PORT_DRIVER_NAME inpoutx64)
  else()
    set(KORVANE_PORT_DRIVER_NAME inpout32)
  endif()
  add_library(korvane_test_port_driver MODULE
    ${CMAKE_SOURCE_DIR}/tests/inpout/simulated_port_driver.cpp
    ${CMAKE_SOURCE_DIR}/tests/inpout/simulated_port_driver.def)
  target_link_libraries(korvane_test_port_driver PRIVATE korvane_simulator)
  # The .def file names the functions undecorated; on i686 the linker finds their __stdcall
  # names (Inp32@4...) for them, which it otherwise reports as a warning.
  target_link_options(korvane_test_port_driver PRIVATE -Wl,--enable-stdcall-fixup)
  set_target_properties(korvane_test_port_driver PROPERTIES
    PREFIX "" OUTPUT_NAME ${KORVANE_PORT_DRIVER_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_port_driver
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_port_driver)

  file(GLOB KORVANE_UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
  if(KORVANE_UI_TEST_SOURCES)
    add_executable(korvane_ui_tests ${KORVANE_UI_TEST_SOURCES} ${KORVANE_RESOURCE_SCRIPT})
    target_link_libraries(korvane_ui_tests PRIVATE korvane_shell korvane_simulator GTest::gtest)
    target_include_directories(korvane_ui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    if(KORVANE_WINE_RUNNABLE)
      add_test(NAME ui_tests COMMAND korvane_ui_tests)
      add_test(NAME end_to_end COMMAND ${CMAKE_SOURCE_DIR}/tests/end_to_end.sh
               $<TARGET_FILE:korvane-sim> $<TARGET_FILE:korvane>
               $<TARGET_FILE:korvane_test_port_driver>)
      set_tests_properties(end_to_end PROPERTIES DEPENDS ui_tests)
    endif()
  endif()
endif()

# The window's own paint of a capture as a BMP picture (tests/fidelity), which the fidelity
# test compares with korvane-cli render's picture of the same capture. korvane-cli comes
# from the native build: configure with -DKORVANE_NATIVE_CLI=path/to/korvane-cli.
if(KORVANE_TESTS)
  add_executable(korvane_gdi_picture ${CMAKE_SOURCE_DIR}/tests/fidelity/gdi_picture.cpp)
  target_link_libraries(korvane_gdi_picture PRIVATE korvane_shell)
  if(KORVANE_WINE_RUNNABLE AND KORVANE_NATIVE_CLI)
    add_test(NAME render_fidelity COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/fidelity/render_fidelity.py
             ${KORVANE_NATIVE_CLI} $<TARGET_FILE:korvane_gdi_picture>)
  endif()
endif()
