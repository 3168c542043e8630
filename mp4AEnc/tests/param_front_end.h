// Test-only configuration front end: fills the typed parameter registry from
// command-line style items "-name value value ...". The library itself has
// no configuration source.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

void configure_params(std::initializer_list<std::string> items);
void configure_params(const std::vector<std::string>& items);
// One line of items: "-a 1 -b 2 3 -c".
void configure_params_line(const std::string& line);
