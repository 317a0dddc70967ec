# Compiler settings shared by every target of the project, in one INTERFACE target.
add_library(egaiss_options INTERFACE)
target_compile_features(egaiss_options INTERFACE cxx_std_20)

if(MSVC)
  target_compile_options(egaiss_options INTERFACE /W4 /utf-8)
  if(EGAISS_WARNINGS_AS_ERRORS)
    target_compile_options(egaiss_options INTERFACE /WX)
  endif()
else()
  target_compile_options(egaiss_options INTERFACE -Wall -Wextra -Wpedantic)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports std::string concatenation at -O2/-O3 as overlapping copies (its bug 105329).
    target_compile_options(egaiss_options INTERFACE -Wno-restrict)
    # At -O3 it also sees uninitialized bytes and out-of-bounds reads inside std::string's short
    # buffer (its bugs 105562, 105651 and kin); the unoptimized builds and clang keep these checks.
    target_compile_options(egaiss_options INTERFACE $<$<CONFIG:Release>:-Wno-maybe-uninitialized -Wno-array-bounds -Wno-stringop-overread>)
  endif()
  if(EGAISS_WARNINGS_AS_ERRORS)
    target_compile_options(egaiss_options INTERFACE -Werror)
  endif()
endif()

if(WIN32)
  target_compile_definitions(egaiss_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                      _WIN32_WINNT=0x0601)
endif()
if(MINGW)
  # Programs that need no MinGW runtime DLLs beside them, under Wine as on a clean Windows.
  target_link_options(egaiss_options INTERFACE -static)
endif()

if(EGAISS_SANITIZE STREQUAL "address")
  target_compile_options(egaiss_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                  -fno-sanitize-recover=undefined)
  target_link_options(egaiss_options INTERFACE -fsanitize=address,undefined)
elseif(EGAISS_SANITIZE STREQUAL "thread")
  target_compile_options(egaiss_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(egaiss_options INTERFACE -fsanitize=thread)
endif()

if(EGAISS_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "EGAISS_FUZZ needs clang; the preset fuzz selects it")
  endif()
  # Every library gets libFuzzer's coverage hooks; only the harnesses link libFuzzer's main().
  # -O1 keeps the runs fast without hiding frames from the sanitizer reports.
  # Pointer-overflow stays recoverable so that fuzz/ubsan.supp can waive one known report of a
  # system header; the harnesses still halt on every report that is not waived.
  target_compile_options(egaiss_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -O1
                                                  -fno-omit-frame-pointer -fno-sanitize-recover=undefined
                                                  -fsanitize-recover=pointer-overflow)
  target_link_options(egaiss_options INTERFACE -fsanitize=address,undefined)
endif()

# Each source folder becomes one library made of every .cpp in it; new units need no CMake edit.
# A unit for one system only ends in Posix.cpp or Win32.cpp (tests: PosixTest.cpp, Win32Test.cpp).
function(egaiss_folder_sources out_var folder)
  file(GLOB sources CONFIGURE_DEPENDS "${folder}/*.cpp")
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "Posix(Test)?\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "Win32(Test)?\\.cpp$")
  endif()
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
