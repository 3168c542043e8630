// Reads one column of a codec data file of the shared tables folder.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<double> table_column(const std::string& name, int column) {
  std::ifstream in(std::string(SUITE_TABLES_DIR) + "/aac/" + name + ".txt");
  std::vector<double> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    std::string cell;
    for (int c = 0; c <= column && row >> cell; ++c)
      if (c == column) out.push_back(std::stod(cell));
  }
  return out;
}
