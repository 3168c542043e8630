// The encoder's process-wide typed parameter service. Modules ask for their
// tuning values by name; the caller stores the default before the call and
// the service overwrites it only when the configuration holds a value that
// passes the range check. No configuration source feeds it in this system,
// so every request keeps its default and every flag reads as off. Not
// thread-safe; nothing here ends the process.
#pragma once

// Results of the getters.
enum ParamResult {
  PARAM_OK = 0,
  PARAM_ILLEGAL = 1,        // configured but never requested (summary)
  PARAM_RANGE = 2,          // range check failed (also: not a number)
  PARAM_TOO_FEW = 3,
  PARAM_TOO_MANY = 4,
  PARAM_EXTENDED_HELP = 7,
  PARAM_UNKNOWN = 8,        // no such parameter registered
  PARAM_NO_MEMORY = 9,
  PARAM_TRUNCATED = 11,
};

// Which element of a multi-value text the single-value getters read, and how
// many values the text must hold (count is changed only when above 0).
void param_set_mode(int index, int count);

int param_get_int(const char* name, int min, int max, const char* help, const char* extHelp,
                  int* value);
int param_get_int_vector(const char* name, int count, int min, int max, const char* help,
                         const char* extHelp, int* values);
int param_get_float(const char* name, float min, float max, const char* help,
                    const char* extHelp, float* value);
int param_get_float_vector(const char* name, int count, float min, float max, const char* help,
                           const char* extHelp, float* values);
int param_get_string(const char* name, const char* help, const char* extHelp, char* buffer,
                     int size);
// Sets *on to 0 first, then to 1 when the flag is configured.
int param_get_flag(const char* name, const char* help, const char* extHelp, int* on);

// Prints the summary of used settings and extended help to the standard error
// stream when asked, then frees everything. In help mode it returns to normal
// mode and answers 0 (the process is not ended).
int param_print_used(void);
void param_free_all(void);

// Lower layer, used by a configuration front end.
// Creates an empty registry (the service starts without one).
int param_registry_open(void);
// Appends an entry with owned copies; 0, or 9 when memory runs out. Does
// nothing while no registry exists.
int param_register(const char* name, const char* valueText, int rangeFailure, int skip);
// Index of the first entry whose name matches in its first 100 characters
// (mode 1 passes over entries with the skip flag), or -1.
int param_lookup(const char* name, int mode);
// 2 when the requested-names list is empty or holds the name, 1 when the
// given-names list holds it, else 0.
int param_find_arg(const char* name);
int param_add_given(const char* name);
int param_add_requested(const char* name);
// Tokenises at spaces and checks the token count against *count.
int param_split_args(const char* text, int* count, const char* name);
// 0 normal, 1 help (print requests).
void param_set_print_mode(int mode);
void param_set_summary(int print, int printOnlyWhenAsked);
// The diagnostic of the last failed request ("At parameter %s: ...").
const char* param_last_message(void);
