#include "param_front_end.h"

#include "mp4aenc/param.h"

#include <cctype>

void configure_params(std::initializer_list<std::string> items) {
  configure_params(std::vector<std::string>(items));
}

void configure_params_line(const std::string& line) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t i = 1; i + 1 < line.size(); ++i)
    if (line[i] == ' ' && line[i + 1] == '-' && i + 2 < line.size() && std::isalpha((unsigned char)line[i + 2])) {
      items.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  if (start < line.size()) items.push_back(line.substr(start));
  configure_params(items);
}

void configure_params(const std::vector<std::string>& items) {
  param_free_all();
  param_registry_open();
  param_register("test-front-end", "", 0, 0);  // entry 0: the program
  for (const std::string& item : items) {
    std::string body = item.substr(1);
    size_t blank = body.find(' ');
    std::string name = body.substr(0, blank);
    std::string value = blank == std::string::npos ? "" : body.substr(blank + 1);
    param_register(name.c_str(), value.c_str(), 0, 0);
    param_add_given(name.c_str());
  }
}
