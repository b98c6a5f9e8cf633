// posimg: pictures for the receipt printer from the command line.
#include <iostream>

#include "posimg.h"

int main(int argc, char** argv) {
  return posimg::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
