# Third-party libraries, all from the distribution's packages (scripts/setup-deps installs them).
find_package(Threads REQUIRED)
if(NOT WIN32)
  # The platform layer's POSIX side; on Windows it uses only the system's own libraries.
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  find_package(Iconv REQUIRED)
endif()

# RapidJSON is headers only and serves any target. The cross build must not see the host's
# /usr/include, so it gets the headers through a folder of their own.
if(CMAKE_CROSSCOMPILING)
  set(RAPIDJSON_INCLUDE_DIRS ${CMAKE_BINARY_DIR}/rapidjson-include)
  file(MAKE_DIRECTORY ${RAPIDJSON_INCLUDE_DIRS})
  file(CREATE_LINK /usr/include/rapidjson ${RAPIDJSON_INCLUDE_DIRS}/rapidjson SYMBOLIC)
else()
  find_package(RapidJSON REQUIRED)
endif()
add_library(egaiss_rapidjson INTERFACE)
target_include_directories(egaiss_rapidjson SYSTEM INTERFACE ${RapidJSON_INCLUDE_DIRS} ${RAPIDJSON_INCLUDE_DIRS})

if(EGAISS_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Debian ships GoogleTest as sources, which build for any target.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# PCRE2, libzip and cpp-httplib (which serves the simulators and the fake peers of the tests) as
# egaiss_pcre2, egaiss_libzip and egaiss_httplib on both systems.
add_library(egaiss_pcre2 INTERFACE)
add_library(egaiss_libzip INTERFACE)
add_library(egaiss_httplib INTERFACE)
if(WIN32)
  # Debian has no MinGW build of these: scripts/windows-deps builds them static from Debian's source
  # packages into the prefix that the toolchain file searches. zlib is libz-mingw-w64-dev's, static
  # so that no zlib1.dll is needed.
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  find_path(EGAISS_PCRE2_INCLUDE_DIR pcre2.h REQUIRED)
  find_library(EGAISS_PCRE2_LIBRARY NAMES libpcre2-8.a REQUIRED)
  target_include_directories(egaiss_pcre2 SYSTEM INTERFACE ${EGAISS_PCRE2_INCLUDE_DIR})
  # PCRE2's pkg-config file omits the define that a static PCRE2 needs on Windows.
  target_compile_definitions(egaiss_pcre2 INTERFACE PCRE2_STATIC)
  target_link_libraries(egaiss_pcre2 INTERFACE ${EGAISS_PCRE2_LIBRARY})
  # libzip's own package rather than its pkg-config file, which drops zlib; the package expects
  # ZLIB::ZLIB from its user.
  find_package(libzip CONFIG REQUIRED)
  target_link_libraries(egaiss_libzip INTERFACE libzip::zip ZLIB::ZLIB)
  find_package(httplib CONFIG REQUIRED)
  target_link_libraries(egaiss_httplib INTERFACE httplib::httplib)
else()
  find_package(ZLIB REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(egaiss_pcre2 INTERFACE PkgConfig::PCRE2)
  target_link_libraries(egaiss_libzip INTERFACE PkgConfig::LIBZIP)
  target_link_libraries(egaiss_httplib INTERFACE PkgConfig::HTTPLIB)
endif()

if(EGAISS_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Core Widgets)
endif()
if(EGAISS_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
