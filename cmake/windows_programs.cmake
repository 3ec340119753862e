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

if(KORVANE_TESTS)
  file(GLOB KORVANE_UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
  if(KORVANE_UI_TEST_SOURCES)
    add_executable(korvane_ui_tests ${KORVANE_UI_TEST_SOURCES} ${KORVANE_RESOURCE_SCRIPT})
    target_link_libraries(korvane_ui_tests PRIVATE korvane_shell korvane_simulator GTest::gtest)
    target_include_directories(korvane_ui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    if(KORVANE_WINE_RUNNABLE)
      add_test(NAME ui_tests COMMAND korvane_ui_tests)
      add_test(NAME end_to_end COMMAND ${CMAKE_SOURCE_DIR}/tests/end_to_end.sh
               $<TARGET_FILE:korvane-sim> $<TARGET_FILE:korvane>)
      set_tests_properties(end_to_end PROPERTIES DEPENDS ui_tests)
    endif()
  endif()
endif()
