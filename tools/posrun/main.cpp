// posrun: runs a script of OPOS control-object calls and prints results and events.
#include <iostream>

#include "posrun.h"

int main(int argc, char** argv) {
  return posrun::run(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout, std::cerr);
}
