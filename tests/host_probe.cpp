// Built with a host's toolchain file to learn whether its compiler, C++ and
// maths libraries are there, and run to learn whether this kernel runs the
// host's programs natively. Exit status 0 where it runs.
#include <cmath>

int main(int argc, char** /*argv*/) { return std::sin(argc - 1) < 0.5 ? 0 : 1; }
