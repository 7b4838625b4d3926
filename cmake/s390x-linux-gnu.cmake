# Cross-build for s390x Linux with Debian's g++-s390x-linux-gnu, linked statically so
# that qemu-s390x runs the program without a s390x system root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
