// origin_entries.exe FILE: for each line of FILE (an entry of the allowed
// list), prints 1 when the plug-in's own parser reads it as an origin, else 0.
// package_test.py holds the installer's check of /ORIGINS to these verdicts.
#include <fstream>
#include <iostream>
#include <string>

#include "transfer/origin.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: origin_entries FILE\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "origin_entries: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cout << (ParseOriginPattern(line) ? 1 : 0) << "\n";
  }
  return 0;
}
