// posutil: the technicians' utilities without a window.
#include <iostream>

#include "posutil.h"

int main(int argc, char** argv) {
  return posutil::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
