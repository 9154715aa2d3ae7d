// zugen4: the instrument from a shell, on the desk or simulated.
#include <iostream>

#include "Tool.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(true);
  return Zu::Tool::RunTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
