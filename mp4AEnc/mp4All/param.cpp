#include "mp4aenc/param.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Entry {
  char* name;
  char* value;  // space-separated values from the configuration
  int requested;
  int switchConsumed;
  int rangeFailure;
  char* extHelp;
  int lastResult;  // 1 until a getter asks for it
  int skip;
};

struct NameList {
  char** names = nullptr;
  int count = 0;
};

struct Service {
  Entry* entries = nullptr;
  int count = -1;  // -1: no registry
  int capacity = 0;
  NameList requestedNames;
  NameList givenNames;
  int mode = 0;
  int elementIndex = 0;
  int elementCount = 1;
  int summaryPrint = 0;
  int summaryOnlyWhenAsked = 0;
  char message[512] = "";
} g_params;

constexpr size_t kNameCompare = 100;
constexpr int kMaxTokens = 64;

char* copy_text(const char* text) {
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

bool list_has(const NameList& list, const char* name) {
  for (int i = 0; i < list.count; ++i)
    if (std::strcmp(list.names[i], name) == 0) return true;
  return false;
}

int list_add(NameList& list, const char* name) {
  auto** grown = static_cast<char**>(std::realloc(list.names, sizeof(char*) * size_t(list.count + 1)));
  if (!grown) return PARAM_NO_MEMORY;
  list.names = grown;
  if (!(list.names[list.count] = copy_text(name))) return PARAM_NO_MEMORY;
  ++list.count;
  return PARAM_OK;
}

void list_free(NameList& list) {
  for (int i = 0; i < list.count; ++i) std::free(list.names[i]);
  std::free(list.names);
  list.names = nullptr;
  list.count = 0;
}

void append_message(const char* text) {
  size_t used = std::strlen(g_params.message);
  std::snprintf(g_params.message + used, sizeof g_params.message - used, "%s", text);
}

// Splits a private copy of the text at blanks.
struct Tokens {
  char* copy = nullptr;
  char* token[kMaxTokens];
  int count = 0;
  ~Tokens() { std::free(copy); }
};

bool tokenise(const char* text, Tokens& t) {
  t.copy = copy_text(text ? text : "");
  if (!t.copy) return false;
  for (char* p = std::strtok(t.copy, " "); p && t.count < kMaxTokens; p = std::strtok(nullptr, " "))
    t.token[t.count++] = p;
  return true;
}

int split_checked(const char* text, int expected, Tokens& t) {
  if (!tokenise(text, t)) return PARAM_NO_MEMORY;
  int count = expected;
  return param_split_args(text, &count, nullptr);
}

bool parse_int(const char* text, int* out) {
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 0);  // 0x hexadecimal, leading 0 octal
  if (end == text || *end != '\0' || errno == ERANGE || v < -2147483647L - 1 || v > 2147483647L)
    return false;
  *out = int(v);
  return true;
}

bool parse_float(const char* text, float* out) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0') return false;
  *out = float(v);
  return true;
}

bool int_in_range(int v, int min, int max) { return min == max || (min <= v && v <= max); }
bool float_in_range(float v, float min, float max) { return min <= v && v <= max; }

int range_failed(Entry& e) {
  e.rangeFailure = 1;
  append_message("Range Check failed");
  return PARAM_RANGE;
}

enum class Kind { Int, IntVector, Float, FloatVector, String, Flag };

void print_help_line(Kind kind, const char* name, int count, const char* help) {
  switch (kind) {
    case Kind::Int: std::fprintf(stderr, "-%s int\t\t", name); break;
    case Kind::IntVector: std::fprintf(stderr, "-%s %d*int\t\t", name, count); break;
    case Kind::Float: std::fprintf(stderr, "-%s float\t\t", name); break;
    case Kind::FloatVector: std::fprintf(stderr, "-%s %d*float\t\t", name, count); break;
    case Kind::String: std::fprintf(stderr, "-%s string\t\t", name); break;
    case Kind::Flag: std::fprintf(stderr, "-%s\t\t\t", name); break;
  }
  if (help) std::fprintf(stderr, "%s\n", help);
  else std::fprintf(stderr, "\n");
}

// Steps 1 to 4 shared by every getter: answers the entry to read, or null
// with *result set when the getter ends here.
Entry* begin_request(const char* name, Kind kind, int count, const char* help, int* result) {
  std::snprintf(g_params.message, sizeof g_params.message, "At parameter %s: ", name);
  int found = param_find_arg(name);
  if (found == 0) {
    *result = PARAM_OK;
    return nullptr;
  }
  int index = param_lookup(name, g_params.mode);
  if (g_params.mode == 1 && found == 2) {
    if (index < 0) {
      if (param_register(name, "", 0, 0) == PARAM_OK && g_params.count > 0) {
        Entry& added = g_params.entries[g_params.count - 1];
        added.lastResult = 0;
        added.requested = 1;
        print_help_line(kind, name, count, help);
      }
      *result = PARAM_UNKNOWN;
      return nullptr;
    }
    if (!g_params.entries[index].requested) print_help_line(kind, name, count, help);
  }
  if (index < 0) {
    *result = PARAM_UNKNOWN;
    return nullptr;
  }
  Entry& e = g_params.entries[index];
  e.requested = 1;
  *result = PARAM_OK;
  return &e;
}

// Step 6: remember the result and the extended help of a failed entry.
int finish_request(Entry& e, int result, const char* extHelp) {
  e.lastResult = result;
  if (e.rangeFailure && extHelp && !e.extHelp) e.extHelp = copy_text(extHelp);
  return result;
}

bool readable(const Entry& e) {
  return g_params.mode == 0 && !e.rangeFailure && e.value && e.value[0] != '\0';
}

template <typename T, typename Parse, typename InRange>
int get_scalar(const char* name, Kind kind, T min, T max, const char* help, const char* extHelp,
               T* value, Parse parse, InRange inRange) {
  int result;
  Entry* e = begin_request(name, kind, 1, help, &result);
  if (!e) return result;
  if (readable(*e)) {
    Tokens t;
    result = split_checked(e->value, g_params.elementCount, t);
    if (result == PARAM_OK) {
      T v{};
      if (g_params.elementIndex >= t.count || !parse(t.token[g_params.elementIndex], &v) ||
          !inRange(v, min, max))
        result = range_failed(*e);
      else
        *value = v;
    }
  }
  return finish_request(*e, result, extHelp);
}

template <typename T, typename Parse, typename InRange>
int get_vector(const char* name, Kind kind, int count, T min, T max, const char* help,
               const char* extHelp, T* values, Parse parse, InRange inRange) {
  int result;
  Entry* e = begin_request(name, kind, count, help, &result);
  if (!e) return result;
  if (readable(*e)) {
    Tokens t;
    result = split_checked(e->value, count, t);
    for (int i = 0; result == PARAM_OK && i < count && i < t.count; ++i) {
      T v{};
      if (!parse(t.token[i], &v) || !inRange(v, min, max)) result = range_failed(*e);
      else values[i] = v;
    }
  }
  return finish_request(*e, result, extHelp);
}

}  // namespace

void param_set_mode(int index, int count) {
  g_params.elementIndex = index;
  if (count > 0) g_params.elementCount = count;
}

int param_registry_open(void) {
  if (g_params.count >= 0) return PARAM_OK;
  g_params.count = 0;
  return PARAM_OK;
}

int param_register(const char* name, const char* valueText, int rangeFailure, int skip) {
  if (g_params.count < 0) return PARAM_OK;
  if (g_params.count == g_params.capacity) {
    int capacity = g_params.capacity ? g_params.capacity * 2 : 16;
    auto* grown = static_cast<Entry*>(std::realloc(g_params.entries, sizeof(Entry) * size_t(capacity)));
    if (!grown) return PARAM_NO_MEMORY;
    g_params.entries = grown;
    g_params.capacity = capacity;
  }
  Entry e{};
  e.name = copy_text(name);
  e.value = copy_text(valueText ? valueText : "");
  if (!e.name || !e.value) {
    std::free(e.name);
    std::free(e.value);
    return PARAM_NO_MEMORY;
  }
  e.rangeFailure = rangeFailure;
  e.skip = skip;
  e.lastResult = 1;
  g_params.entries[g_params.count++] = e;
  return PARAM_OK;
}

int param_lookup(const char* name, int mode) {
  for (int i = 0; i < g_params.count; ++i) {
    const Entry& e = g_params.entries[i];
    if (mode == 1 && e.skip) continue;
    if (std::strncmp(e.name, name, kNameCompare) == 0) return i;
  }
  return -1;
}

int param_find_arg(const char* name) {
  if (g_params.requestedNames.count == 0 || list_has(g_params.requestedNames, name)) return 2;
  if (list_has(g_params.givenNames, name)) return 1;
  return 0;
}

int param_add_given(const char* name) { return list_add(g_params.givenNames, name); }
int param_add_requested(const char* name) { return list_add(g_params.requestedNames, name); }

int param_split_args(const char* text, int* count, const char* name) {
  if (name) std::snprintf(g_params.message, sizeof g_params.message, "At parameter %s: ", name);
  Tokens t;
  if (!tokenise(text, t)) return PARAM_NO_MEMORY;
  if (t.count < *count) {
    append_message("Too few arguments in configuration");
    *count = t.count - 1;
    return PARAM_TOO_FEW;
  }
  if (t.count > *count) {
    append_message("Too many arguments in configuration");
    return PARAM_TOO_MANY;
  }
  return PARAM_OK;
}

int param_get_int(const char* name, int min, int max, const char* help, const char* extHelp,
                  int* value) {
  return get_scalar(name, Kind::Int, min, max, help, extHelp, value, parse_int, int_in_range);
}

int param_get_int_vector(const char* name, int count, int min, int max, const char* help,
                         const char* extHelp, int* values) {
  return get_vector(name, Kind::IntVector, count, min, max, help, extHelp, values, parse_int,
                    int_in_range);
}

int param_get_float(const char* name, float min, float max, const char* help,
                    const char* extHelp, float* value) {
  return get_scalar(name, Kind::Float, min, max, help, extHelp, value, parse_float,
                    float_in_range);
}

int param_get_float_vector(const char* name, int count, float min, float max, const char* help,
                           const char* extHelp, float* values) {
  return get_vector(name, Kind::FloatVector, count, min, max, help, extHelp, values, parse_float,
                    float_in_range);
}

int param_get_string(const char* name, const char* help, const char* extHelp, char* buffer,
                     int size) {
  int result;
  Entry* e = begin_request(name, Kind::String, 1, help, &result);
  if (!e) return result;
  if (readable(*e) && buffer && size > 0) {
    size_t length = std::strlen(e->value);
    size_t n = length < size_t(size - 1) ? length : size_t(size - 1);
    std::memcpy(buffer, e->value, n);
    buffer[n] = '\0';
    if (length > n) result = PARAM_TRUNCATED;
  }
  return finish_request(*e, result, extHelp);
}

int param_get_flag(const char* name, const char* help, const char* extHelp, int* on) {
  *on = 0;  // a flag nobody configured is off
  int result;
  Entry* e = begin_request(name, Kind::Flag, 0, help, &result);
  if (!e) return result;
  if (e->switchConsumed) return finish_request(*e, PARAM_UNKNOWN, extHelp);
  if (g_params.mode == 0 && !e->rangeFailure) {
    int count = 0;
    result = param_split_args(e->value, &count, name);
    if (result == PARAM_OK) {
      *on = 1;
      e->switchConsumed = 1;
    }
  }
  return finish_request(*e, result, extHelp);
}

void param_set_print_mode(int mode) { g_params.mode = mode; }

void param_set_summary(int print, int printOnlyWhenAsked) {
  g_params.summaryPrint = print;
  g_params.summaryOnlyWhenAsked = printOnlyWhenAsked;
}

const char* param_last_message(void) { return g_params.message; }

int param_print_used(void) {
  int result = PARAM_OK;
  bool printLine = g_params.summaryPrint && g_params.summaryOnlyWhenAsked && g_params.mode == 0;
  if (printLine) std::fprintf(stderr, "actually used settings: ");
  // Entry 0 is the front end's program name.
  for (int i = 1; i < g_params.count; ++i) {
    Entry& e = g_params.entries[i];
    if (e.rangeFailure) {
      if (e.extHelp) {
        std::fprintf(stderr, "Extended Help for commandline argument -%s:\n%s\n\n", e.name, e.extHelp);
        result = PARAM_EXTENDED_HELP;
      } else {
        std::fprintf(stderr, "No extended help available for commandline argument -%s\n", e.name);
      }
    }
    if (e.lastResult == 1) {
      std::fprintf(stderr, "***\nIllegal parameter in configuration, no request to %s \"%s\".\n***\n",
                   e.name, e.value);
      result = PARAM_ILLEGAL;
    } else if (printLine && std::strncmp(e.name, "urs", 3) != 0 &&
               std::strncmp(e.name, "sw-visible", 10) != 0) {
      std::fprintf(stderr, "-%s %s ", e.name, e.value);
    }
  }
  if (printLine) std::fprintf(stderr, "\n");
  param_free_all();
  if (g_params.mode == 1) {
    // Help mode ended the process here; inside a host we only leave the mode.
    g_params.mode = 0;
    return PARAM_OK;
  }
  return result;
}

void param_free_all(void) {
  for (int i = 0; i < g_params.count; ++i) {
    std::free(g_params.entries[i].name);
    std::free(g_params.entries[i].value);
    std::free(g_params.entries[i].extHelp);
  }
  std::free(g_params.entries);
  g_params.entries = nullptr;
  g_params.count = -1;
  g_params.capacity = 0;
  list_free(g_params.requestedNames);
  list_free(g_params.givenNames);
}
