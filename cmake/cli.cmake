# korvane-cli: what its two front ends share in a library (services/: the formats and their
# writers, pictures through cairo, decoding through libsigrokdecode, the measurements' JSON,
# the capture settings, the io actions, the port of a Linux program), the commands in a
# library of their own (the tests and benchmarks call them), the server in a third, and a
# small main that only dispatches.
find_package(CLI11 REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)  # sigrok session files
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)    # pictures of captures
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)  # the server's quick view pictures
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)      # downloads compressed on the wire
pkg_check_modules(SIGROKDECODE REQUIRED IMPORTED_TARGET libsigrokdecode)  # protocol decoding

# The analysis that needs FFTW (spectra), for korvane-cli only.
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3)
file(GLOB KORVANE_ANALYSIS_FFTW_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/analysis/*_fftw.cpp)
add_library(korvane_analysis_fftw STATIC ${KORVANE_ANALYSIS_FFTW_SOURCES})
target_link_libraries(korvane_analysis_fftw PUBLIC korvane_analysis PkgConfig::FFTW3)

file(GLOB KORVANE_SERVICES_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/services/*.cpp)
add_library(korvane_services STATIC ${KORVANE_SERVICES_SOURCES})
target_link_libraries(korvane_services PUBLIC korvane_core korvane_analysis korvane_analysis_fftw korvane_simulator
                      nlohmann_json::nlohmann_json PkgConfig::LIBZIP PkgConfig::CAIRO PkgConfig::SIGROKDECODE)
if(TARGET korvane_linux)
  target_link_libraries(korvane_services PUBLIC korvane_linux)
endif()

file(GLOB KORVANE_CLI_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cli/*.cpp)
list(REMOVE_ITEM KORVANE_CLI_SOURCES ${CMAKE_SOURCE_DIR}/cli/main.cpp)
add_library(korvane_cli_commands STATIC ${KORVANE_CLI_SOURCES})
target_link_libraries(korvane_cli_commands PUBLIC korvane_services CLI11::CLI11)

# korvane-cli serve: the server on Boost.Beast and Asio (headers only), with the page's files
# built in.
find_path(BOOST_BEAST_INCLUDE_DIR boost/beast.hpp REQUIRED)
file(GLOB KORVANE_PAGE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/server/page/*)
set(KORVANE_PAGE_SOURCE ${CMAKE_BINARY_DIR}/generated/page_files.cpp)
string(REPLACE ";" "|" KORVANE_PAGE_LIST "${KORVANE_PAGE_FILES}")  # one argument through the shell
add_custom_command(OUTPUT ${KORVANE_PAGE_SOURCE}
                   COMMAND ${CMAKE_COMMAND} "-DFILES=${KORVANE_PAGE_LIST}" -DOUTPUT=${KORVANE_PAGE_SOURCE}
                           -P ${CMAKE_SOURCE_DIR}/cmake/embed_page.cmake
                   DEPENDS ${KORVANE_PAGE_FILES} ${CMAKE_SOURCE_DIR}/cmake/embed_page.cmake
                   COMMENT "Building the page's files into the server" VERBATIM)
file(GLOB KORVANE_SERVER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/server/*.cpp)
add_library(korvane_server STATIC ${KORVANE_SERVER_SOURCES} ${KORVANE_PAGE_SOURCE})
target_include_directories(korvane_server SYSTEM PUBLIC ${BOOST_BEAST_INCLUDE_DIR})
target_link_libraries(korvane_server PUBLIC korvane_services CLI11::CLI11 PkgConfig::LIBPNG PkgConfig::ZLIB Threads::Threads)

add_executable(korvane-cli ${CMAKE_SOURCE_DIR}/cli/main.cpp)
target_link_libraries(korvane-cli PRIVATE korvane_server korvane_cli_commands)
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  target_link_options(korvane-cli PRIVATE -s)  # the release carries no debugging information
endif()

if(KORVANE_TESTS)
  file(GLOB KORVANE_CLI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/cli/*.cpp)
  if(KORVANE_CLI_TEST_SOURCES)
    add_executable(korvane_cli_tests ${KORVANE_CLI_TEST_SOURCES})
    target_link_libraries(korvane_cli_tests PRIVATE korvane_server korvane_cli_commands GTest::gmock GTest::gtest_main)
    target_include_directories(korvane_cli_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME cli_tests COMMAND korvane_cli_tests)
  endif()
  # Shell tests of the real binary: end_to_end.sh, export_formats.sh...
  file(GLOB KORVANE_CLI_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/cli/*.sh)
  foreach(script ${KORVANE_CLI_SCRIPTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME cli_${name} COMMAND ${script} $<TARGET_FILE:korvane-cli>)
  endforeach()
endif()
