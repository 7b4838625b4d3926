# Cross-build audiosim.wasm for WebAssembly (WASI preview 1) with Debian's
# clang, lld, wasi-libc, libc++ for wasm32 and compiler-rt's wasm32 builtins.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)
set(CMAKE_EXECUTABLE_SUFFIX_CXX .wasm)
