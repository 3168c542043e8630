// Test-only configuration front end: fills the typed parameter registry from
// command-line style items "-name value value ...". The library itself has
// no configuration source.
#pragma once

#include <initializer_list>
#include <string>

void configure_params(std::initializer_list<std::string> items);
