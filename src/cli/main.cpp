#include <clocale>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  return cellbrook::RunCli(args, stdout, stderr);
}
