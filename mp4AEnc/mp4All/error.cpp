#include "mp4aenc/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char out_of_memory_file[] = "error";
char out_of_memory_message[] = "out of memory while reporting an error";
// Handed out when a record cannot be allocated, so that a failure is never
// mistaken for success. Its chain is never extended.
ErrorRecord out_of_memory_record = {out_of_memory_file, 0, nullptr, out_of_memory_message,
                                    nullptr};

const char* base_name(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

char* copy_text(const char* text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

}  // namespace

ErrorRecord* error_create(const char* file, int line, const char* context, const char* format,
                          ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format ? format : "", args);
  va_end(args);

  auto* record = static_cast<ErrorRecord*>(std::calloc(1, sizeof(ErrorRecord)));
  if (!record) return &out_of_memory_record;
  record->file = copy_text(base_name(file));
  record->line = line;
  record->context = copy_text(context);
  record->message = copy_text(message);
  if (!record->file || !record->message || (context && !record->context)) {
    error_free(record);
    return &out_of_memory_record;
  }
  return record;
}

ErrorRecord* error_add_trace(const char* file, int line, const char* context,
                             ErrorRecord* record) {
  if (!record || record == &out_of_memory_record) return record;
  auto* entry = static_cast<ErrorTrace*>(std::calloc(1, sizeof(ErrorTrace)));
  if (!entry) return record;
  entry->file = copy_text(base_name(file));
  entry->line = line;
  entry->context = copy_text(context);
  ErrorTrace** tail = &record->next;
  while (*tail) tail = &(*tail)->next;
  *tail = entry;
  return record;
}

void error_free(ErrorRecord* record) {
  if (!record || record == &out_of_memory_record) return;
  ErrorTrace* entry = record->next;
  while (entry) {
    ErrorTrace* next = entry->next;
    std::free(entry->file);
    std::free(entry->context);
    std::free(entry);
    entry = next;
  }
  std::free(record->file);
  std::free(record->context);
  std::free(record->message);
  std::free(record);
}

int error_trace_count(const ErrorRecord* record) {
  int n = 0;
  for (const ErrorTrace* e = record ? record->next : nullptr; e; e = e->next) ++n;
  return n;
}

ErrorRecord* fatal_design_error(const char* message, const char* file, int line) {
  std::fprintf(stderr, "\a##########\nfatal error: %s in file %s, %d", message ? message : "",
               file ? file : "", line);
  std::fprintf(stderr, "\nThis is a program design failure - Aborting.\n##########\n");
  return error_create(file, line, nullptr, "%s", message ? message : "");
}

ErrorRecord* celp_core_create(void) {
  return error_create("mp4AEnc/mp4AACScalable/src/celp_core", __LINE__, nullptr,
                      "Not supported\n");
}

ErrorRecord* tvq_core_create(void) {
  return error_create("mp4AEnc/mp4AACScalable/src/tvq_core", __LINE__, nullptr,
                      "TVQ core not available");
}
