# Tests: unit tests of the waveform, the built program run end to end and in
# hostile folders, the same program cross-built for a big-endian host, and
# the tools around it.
find_package(GTest REQUIRED)
find_package(ZLIB REQUIRED)
include(GoogleTest)

# Fails configuration when AUDIOSIM_REQUIRE_ALL_TESTS is on and an optional
# test cannot be registered; otherwise says which test is left out.
function(audiosim_optional_test_missing what)
  if(AUDIOSIM_REQUIRE_ALL_TESTS)
    message(FATAL_ERROR "AUDIOSIM_REQUIRE_ALL_TESTS: ${what}")
  endif()
  message(STATUS "Test left out: ${what}")
endfunction()

add_executable(waveform_test tests/waveform_test.cpp ${waveform_sources})
target_include_directories(waveform_test PRIVATE misc/audiosim)
target_link_libraries(waveform_test PRIVATE audiosim_flags GTest::gtest_main)
gtest_discover_tests(waveform_test)

add_executable(program_test tests/program_test.cpp)
target_link_libraries(program_test PRIVATE audiosim_flags GTest::gtest_main ZLIB::ZLIB)
target_compile_definitions(program_test PRIVATE AUDIOSIM_PATH="$<TARGET_FILE:audiosim>")
add_dependencies(program_test audiosim)
gtest_discover_tests(program_test)

# The program built for s390x, a big-endian host, and its output checked under
# user-mode emulation by the same end-to-end tests.
find_program(S390X_CXX s390x-linux-gnu-g++)
find_program(QEMU_S390X qemu-s390x)
if(S390X_CXX AND QEMU_S390X)
  set(s390x_program ${CMAKE_CURRENT_BINARY_DIR}/audiosim-s390x)
  list(TRANSFORM program_sources PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE s390x_sources)
  add_custom_command(OUTPUT ${s390x_program}
    COMMAND ${S390X_CXX} -std=c++20 -O2 -static -o ${s390x_program} ${s390x_sources}
    DEPENDS ${s390x_sources} ${CMAKE_CURRENT_SOURCE_DIR}/misc/audiosim/waveform.h
    COMMENT "Cross-building audiosim for s390x")
  add_custom_target(audiosim_s390x ALL DEPENDS ${s390x_program})
  add_test(NAME s390x_output COMMAND program_test --gtest_filter=Output.*)
  set_tests_properties(s390x_output PROPERTIES
    ENVIRONMENT "AUDIOSIM_EMULATOR=${QEMU_S390X};AUDIOSIM_PROGRAM=${s390x_program}")
else()
  audiosim_optional_test_missing("s390x_output needs s390x-linux-gnu-g++ and qemu-s390x")
endif()

# Memory errors in the program itself (sanitizer builds check with ASan instead).
find_program(VALGRIND valgrind)
if(AUDIOSIM_SANITIZE)
elseif(VALGRIND)
  add_test(NAME valgrind_memcheck COMMAND program_test --gtest_filter=Output.*)
  set_tests_properties(valgrind_memcheck PROPERTIES
    ENVIRONMENT "AUDIOSIM_EMULATOR=${VALGRIND} --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect")
else()
  audiosim_optional_test_missing("valgrind_memcheck needs valgrind")
endif()
