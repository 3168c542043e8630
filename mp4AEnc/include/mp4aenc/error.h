// Failure values of the AAC encoder library. A null ErrorRecord* means
// success; every level that passes a failure on appends a trace entry.
#pragma once

struct ErrorTrace {
  char* file;     // base name of the source module
  int line;
  char* context;  // may be null
  ErrorTrace* next;
};

struct ErrorRecord {
  char* file;     // base name of the module that raised the failure
  int line;
  char* context;  // may be null
  char* message;
  ErrorTrace* next;  // trace entries, innermost caller first
};

// Formats the message (printf rules, at most 511 characters) into a new
// record. Never answers null: when memory runs out a static record stands in.
ErrorRecord* error_create(const char* file, int line, const char* context,
                          const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Appends {file, line, context} to the chain and answers the same record;
// null stays null.
ErrorRecord* error_add_trace(const char* file, int line, const char* context,
                             ErrorRecord* record);

// Frees a record and its trace chain; the static stand-in and null are
// accepted.
void error_free(ErrorRecord* record);

// Number of trace entries of a record (0 for null).
int error_trace_count(const ErrorRecord* record);

// The library runs inside another program's process, so a condition it cannot
// continue from is printed as a design failure and handed back as a record
// instead of ending the process.
ErrorRecord* fatal_design_error(const char* message, const char* file, int line);

// Placeholders for the speech cores of the scalable coder that this system
// does not supply; each answers a new record with its fixed message.
ErrorRecord* celp_core_create(void);
ErrorRecord* tvq_core_create(void);
