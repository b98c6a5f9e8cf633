// Entry point of the oposreg program.
#include <iostream>

#include "oposreg.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return tools::run_oposreg(args, std::cout, std::cerr);
}
