# The helper that builds the program for another host and runs the output
# tests on it there; tests/CMakeLists.txt names the hosts.

# Builds the program for another host in a build folder of its own, through the
# toolchain file cmake/<TOOLCHAIN>.cmake, and runs the output tests on it under
# RUNNER with RUNNER_ARGS (an emulator; none where this machine runs the host's
# programs), less the tests that EXCLUDE names. With FALLBACK_RUNNER, a probe
# program decides: the host's programs run natively where this kernel runs
# them, else under FALLBACK_RUNNER.
# ENVIRONMENT adds to the tests' environment; SETUP, if given, is a command
# that runs first as a test of its own, in the same environment.
file(GLOB program_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/misc/audiosim/*)
function(audiosim_cross_host name)
  if(NOT TARGET program_test)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 host "" "TOOLCHAIN;COMPILER;RUNNER;FALLBACK_RUNNER;EXECUTABLE;EXCLUDE"
                        "PROBE_FLAGS;RUNNER_ARGS;ENVIRONMENT;SETUP")
  # The probe: a program that uses the maths library, built as the host's
  # programs are (PROBE_FLAGS), so a missing library leaves the test out
  # instead of failing the build.
  find_program(${name}_compiler ${host_COMPILER})
  set(probe ${CMAKE_BINARY_DIR}/host-${name}-probe)
  file(WRITE ${probe}.cpp "#include <cmath>\nint main(int argc, char**) { return std::sin(argc - 1) < 0.5 ? 0 : 1; }\n")
  set(probe_built 1)
  if(${name}_compiler)
    execute_process(COMMAND ${${name}_compiler} ${host_PROBE_FLAGS} -o ${probe} ${probe}.cpp
                    RESULT_VARIABLE probe_built OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(host_FALLBACK_RUNNER AND probe_built EQUAL 0)
    execute_process(COMMAND ${probe} RESULT_VARIABLE probe_ran OUTPUT_QUIET ERROR_QUIET)
    if(probe_ran STREQUAL "0")
      message(STATUS "${name}_output: this kernel runs ${name} programs natively")
    else()
      set(host_RUNNER ${host_FALLBACK_RUNNER})
      message(STATUS "${name}_output: this kernel cannot run ${name} programs (${probe_ran}): "
                     "they run under ${host_RUNNER}")
    endif()
  endif()
  set(runner "")
  if(host_RUNNER)
    find_program(${name}_runner ${host_RUNNER} PATHS /usr/lib/wine)
    set(runner ${${name}_runner})
  endif()
  if(NOT probe_built EQUAL 0 OR (host_RUNNER AND NOT runner))
    audiosim_optional_test_missing("${name}_output needs ${host_COMPILER} with its C++ and maths "
                                   "libraries, and ${host_RUNNER}")
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/host-${name})
  set(toolchain ${PROJECT_SOURCE_DIR}/cmake/${host_TOOLCHAIN}.cmake)
  set(program ${dir}/${host_EXECUTABLE})
  add_custom_command(OUTPUT ${program}
    COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${dir} -DCMAKE_TOOLCHAIN_FILE=${toolchain}
            -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DAUDIOSIM_WERROR=${AUDIOSIM_WERROR}
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS ${CMAKE_COMMAND} --build ${dir} --target audiosim
    COMMAND ${CMAKE_COMMAND} -E touch ${program}
    DEPENDS ${program_files} ${toolchain} ${PROJECT_SOURCE_DIR}/CMakeLists.txt
            ${PROJECT_SOURCE_DIR}/cmake/hardening.cmake ${PROJECT_SOURCE_DIR}/cmake/packaging.cmake
    COMMENT "Building audiosim for ${name}" VERBATIM)
  add_custom_target(audiosim_${name} ALL DEPENDS ${program})
  list(JOIN host_RUNNER_ARGS " " runner_args)
  set(environment "AUDIOSIM_EMULATOR=${runner} ${runner_args}" AUDIOSIM_PROGRAM=${program} ${host_ENVIRONMENT})
  audiosim_output_test(${name}_output "${environment}" ${host_EXCLUDE})
  if(host_SETUP)
    add_test(NAME ${name}_setup COMMAND ${host_SETUP})
    set_tests_properties(${name}_setup PROPERTIES ENVIRONMENT "${environment}" FIXTURES_SETUP ${name})
    set_tests_properties(${name}_output PROPERTIES FIXTURES_REQUIRED ${name})
  endif()
endfunction()
