# The helper that builds the program for another host and runs the output
# rows on it there; tests/CMakeLists.txt names the hosts.
include(ExternalProject)

# The C++ compiler and the compile and link flags that a toolchain file names,
# read in a scope of their own.
function(audiosim_toolchain_compiler toolchain compiler_var flags_var)
  include(${toolchain})
  separate_arguments(flags UNIX_COMMAND "${CMAKE_CXX_FLAGS_INIT} ${CMAKE_EXE_LINKER_FLAGS_INIT}")
  if(CMAKE_CXX_COMPILER_TARGET)
    list(APPEND flags --target=${CMAKE_CXX_COMPILER_TARGET})
  endif()
  if(CMAKE_SYSROOT)
    list(APPEND flags --sysroot=${CMAKE_SYSROOT})
  endif()
  set(${compiler_var} ${CMAKE_CXX_COMPILER} PARENT_SCOPE)
  set(${flags_var} ${flags} PARENT_SCOPE)
endfunction()

# Builds the program for host NAME in build/host-NAME, a build of this project
# of its own through the toolchain file cmake/<TOOLCHAIN>.cmake, and runs the
# output rows that FILTER (a GoogleTest filter) names under RUNNER with
# RUNNER_ARGS (an emulator; none where this machine runs the host's programs).
# With FALLBACK_RUNNER, tests/host_probe.cpp decides: the host's programs run
# natively where this kernel runs them, else under FALLBACK_RUNNER.
# ENVIRONMENT adds to the tests' environment; SETUP, if given, is a command
# that runs first as a test of its own, in the same environment. Sets
# NAME_program in the caller, for tests of its own (NAME_runner is cached).
function(audiosim_cross_host name)
  if(NOT TARGET program_test)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 host "" "TOOLCHAIN;RUNNER;FALLBACK_RUNNER;EXECUTABLE;FILTER"
                        "RUNNER_ARGS;ENVIRONMENT;SETUP")
  set(toolchain ${PROJECT_SOURCE_DIR}/cmake/${host_TOOLCHAIN}.cmake)
  # The probe, built as the toolchain file builds the host's programs, so a
  # missing library leaves the test out instead of failing the build.
  audiosim_toolchain_compiler(${toolchain} compiler probe_flags)
  find_program(${name}_compiler ${compiler})
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/host-${name}-probe)
  set(probe_built 1)
  if(${name}_compiler)
    execute_process(COMMAND ${${name}_compiler} ${probe_flags} -o ${probe}
                            ${CMAKE_CURRENT_SOURCE_DIR}/host_probe.cpp
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
    audiosim_skipped_test(${name}_output "needs ${compiler} with its C++ and maths libraries, and ${host_RUNNER}"
                          LABELS hosts)
    return()
  endif()
  # Built every time the suite is: the host's own build then redoes what any
  # change to the sources or the CMake files asks for, and nothing else.
  set(dir ${CMAKE_BINARY_DIR}/host-${name})
  ExternalProject_Add(audiosim_${name} SOURCE_DIR ${PROJECT_SOURCE_DIR} BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DAUDIOSIM_WERROR=${AUDIOSIM_WERROR} -DCMAKE_TOOLCHAIN_FILE=${toolchain}
    INSTALL_COMMAND "" BUILD_ALWAYS ON)
  set(program ${dir}/${host_EXECUTABLE})
  list(JOIN host_RUNNER_ARGS " " runner_args)
  set(environment "AUDIOSIM_EMULATOR=${runner} ${runner_args}" AUDIOSIM_PROGRAM=${program} ${host_ENVIRONMENT})
  audiosim_output_test(${name}_output "${environment}" ${host_FILTER})
  set_tests_properties(${name}_output PROPERTIES LABELS hosts)
  if(host_SETUP)
    add_test(NAME ${name}_setup COMMAND ${host_SETUP})
    set_tests_properties(${name}_setup PROPERTIES ENVIRONMENT "${environment}" FIXTURES_SETUP ${name} LABELS hosts)
    set_tests_properties(${name}_output PROPERTIES FIXTURES_REQUIRED ${name})
  endif()
  set(${name}_program ${program} PARENT_SCOPE)
endfunction()
