# Third-party libraries, all from the distribution's packages (scripts/setup-deps installs them).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)

if(NOT WIN32)
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  find_package(Iconv REQUIRED)
endif()

pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
find_package(RapidJSON REQUIRED)
add_library(egaiss_rapidjson INTERFACE)
target_include_directories(egaiss_rapidjson SYSTEM INTERFACE ${RapidJSON_INCLUDE_DIRS} ${RAPIDJSON_INCLUDE_DIRS})

find_package(Qt6 REQUIRED COMPONENTS Core)
if(EGAISS_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Network)
endif()

# cpp-httplib serves the simulators and the fake peers of the tests.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

if(EGAISS_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(EGAISS_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
