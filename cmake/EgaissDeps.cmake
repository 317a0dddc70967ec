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

if(EGAISS_MINIMAL_DEPS)
  return()
endif()

find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)

pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)

if(EGAISS_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Core Widgets Network)
endif()

# cpp-httplib serves the simulators and the fake peers of the tests.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
if(EGAISS_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
