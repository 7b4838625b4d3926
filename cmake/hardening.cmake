# Hardening for a program, as distributions build their packages: PIE, stack
# protector and stack-clash flags (which add nothing to this program: no
# function keeps an array on the stack), control-flow protection, fortified C
# library calls and full RELRO. Only where a loader and a C library use it
# (not on bare metal or in WebAssembly; Windows gets ASLR and DEP from the
# linker's defaults), and only the flags the compiler takes for its target:
# -fcf-protection is for x86-64 (the 32-bit host targets plain i386, which has
# no ENDBR32), and fortified calls need optimisation, so Debug has none.
include(CheckCXXCompilerFlag)
# The flag probes work quietly: a first build prints only what it builds.
set(CMAKE_REQUIRED_QUIET ON)
include(CheckPIESupported)

function(audiosim_harden target)
  if(NOT UNIX OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    return()
  endif()
  check_pie_supported()
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  set(flags -fstack-protector-strong -fstack-clash-protection)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    list(APPEND flags -fcf-protection)
  endif()
  foreach(flag IN LISTS flags)
    string(MAKE_C_IDENTIFIER "audiosim_has${flag}" has_flag)
    check_cxx_compiler_flag(${flag} ${has_flag})
    if(${has_flag})
      # At link time too: with link-time optimisation the code is made there.
      target_compile_options(${target} PRIVATE ${flag})
      target_link_options(${target} PRIVATE ${flag})
    endif()
  endforeach()
  # -U first: some compilers define their own level already.
  target_compile_options(${target} PRIVATE "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
  if(NOT APPLE)
    target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now)
  endif()
endfunction()
