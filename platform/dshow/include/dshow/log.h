// A line of a filter's log: to the debugger output and, when the environment
// names a file in KR_FILTER_LOG, appended there (tests read it).
#pragma once

void FilterLog(const char* component, const char* format, ...) __attribute__((format(printf, 2, 3)));
