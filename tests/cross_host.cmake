# The helper that builds the program for another host and runs the output
# rows on it there; tests/CMakeLists.txt names the hosts.

# Builds the program for another host in a build folder of its own, through the
# toolchain file cmake/<TOOLCHAIN>.cmake, and runs the output rows that FILTER
# (a GoogleTest filter) names under RUNNER with RUNNER_ARGS (an emulator; none
# where this machine runs the host's programs). With FALLBACK_RUNNER, a probe
# program decides: the host's programs run natively where this kernel runs
# them, else under FALLBACK_RUNNER.
# ENVIRONMENT adds to the tests' environment; SETUP, if given, is a command
# that runs first as a test of its own, in the same environment.
file(GLOB program_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/misc/audiosim/*)

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

function(audiosim_cross_host name)
  if(NOT TARGET program_test)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 host "" "TOOLCHAIN;RUNNER;FALLBACK_RUNNER;EXECUTABLE;FILTER"
                        "RUNNER_ARGS;ENVIRONMENT;SETUP")
  set(toolchain ${PROJECT_SOURCE_DIR}/cmake/${host_TOOLCHAIN}.cmake)
  # The probe: a program that uses the maths library, built as the toolchain
  # file builds the host's programs, so a missing library leaves the test out
  # instead of failing the build.
  audiosim_toolchain_compiler(${toolchain} compiler probe_flags)
  find_program(${name}_compiler ${compiler})
  set(probe ${CMAKE_BINARY_DIR}/host-${name}-probe)
  file(WRITE ${probe}.cpp "#include <cmath>\nint main(int argc, char**) { return std::sin(argc - 1) < 0.5 ? 0 : 1; }\n")
  set(probe_built 1)
  if(${name}_compiler)
    execute_process(COMMAND ${${name}_compiler} ${probe_flags} -o ${probe} ${probe}.cpp
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
  set(dir ${CMAKE_BINARY_DIR}/host-${name})
  set(program ${dir}/${host_EXECUTABLE})
  add_custom_command(OUTPUT ${program}
    COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${dir} -DCMAKE_BUILD_TYPE=Release
            -DAUDIOSIM_WERROR=${AUDIOSIM_WERROR} -DCMAKE_TOOLCHAIN_FILE=${toolchain}
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS ${CMAKE_COMMAND} --build ${dir} --target audiosim
    COMMAND ${CMAKE_COMMAND} -E touch ${program}
    DEPENDS ${program_files} ${toolchain} ${PROJECT_SOURCE_DIR}/CMakeLists.txt
            ${PROJECT_SOURCE_DIR}/cmake/hardening.cmake ${PROJECT_SOURCE_DIR}/cmake/packaging.cmake
    COMMENT "Building audiosim for ${name}" VERBATIM)
  add_custom_target(audiosim_${name} ALL DEPENDS ${program})
  list(JOIN host_RUNNER_ARGS " " runner_args)
  set(environment "AUDIOSIM_EMULATOR=${runner} ${runner_args}" AUDIOSIM_PROGRAM=${program} ${host_ENVIRONMENT})
  audiosim_output_test(${name}_output "${environment}" ${host_FILTER})
  set_tests_properties(${name}_output PROPERTIES LABELS hosts)
  if(host_SETUP)
    add_test(NAME ${name}_setup COMMAND ${host_SETUP})
    set_tests_properties(${name}_setup PROPERTIES ENVIRONMENT "${environment}" FIXTURES_SETUP ${name} LABELS hosts)
    set_tests_properties(${name}_output PROPERTIES FIXTURES_REQUIRED ${name})
  endif()
endfunction()
