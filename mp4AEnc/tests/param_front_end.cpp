#include "param_front_end.h"

#include "mp4aenc/param.h"

void configure_params(std::initializer_list<std::string> items) {
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
