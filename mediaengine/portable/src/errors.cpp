#include "mediaengine/errors.h"

namespace mediaengine {

namespace {

struct NamedCode {
  int32_t code;
  const char* name;
};

#define MEDIAENGINE_NAME(name, code) {static_cast<int32_t>(code##u), #name},
constexpr NamedCode kNames[] = {MEDIAENGINE_ERRORS(MEDIAENGINE_NAME)};
#undef MEDIAENGINE_NAME

struct TracedCode {
  int32_t code;
  const char* text;
};

constexpr TracedCode kTraceTexts[] = {
    {KRM_E_NO_VIDEO_CAPTURE_DEVICE, "Video capture device not detected"},
    {KRM_E_NO_AUDIO_CAPTURE_DEVICE, "Audio capture device not detected"},
    {KRM_E_INVALID_FILE_NAME, "Invalid file name"},
    {KRM_E_INVALID_DEVICE_ID, "Invalid device ID"},
    {KRM_E_BAD_PARAMETER, "Bad parameter"},
    {KRM_E_FUNCTION_FAILED, "The function failed"},
    {KRM_E_VIDEO_DEVICE_NOT_AVAILABLE, "Video device not available"},
    {KRM_E_AUDIO_DEVICE_NOT_AVAILABLE, "Audio device not available"},
    {KRM_E_STRING_TOO_LONG, "The given string is too long"},
};

}  // namespace

const char* MediaEngineErrorName(int32_t code) {
  for (const NamedCode& n : kNames)
    if (n.code == code) return n.name;
  return nullptr;
}

const char* MediaEngineTraceText(int32_t code) {
  for (const TracedCode& t : kTraceTexts)
    if (t.code == code) return t.text;
  return nullptr;
}

std::string FormatTextTrace(const char* owner, const char* operation, const char* text) {
  return std::string(owner) + "::" + operation + ":" + text;
}

std::string FormatCodeTrace(const char* owner, const char* operation, const char* codeText) {
  return std::string(owner) + "::" + operation + ": " + codeText;
}

}  // namespace mediaengine
