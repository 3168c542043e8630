// libFuzzer target for the texts that come from outside: the command line,
// number fields typed by the user, file titles, and patterns from the
// string table filled with names.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scrivel/command_line.h"
#include "scrivel/locale_rules.h"
#include "scrivel/session_settings.h"
#include "scrivel/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

  const scrivel::SplitLine split = scrivel::SplitCommandLine(text);
  // A quoted name is taken from the second character even when the split
  // falls before its quotes, so the two parts may overlap; neither is longer
  // than the line.
  if (split.fileName.size() > text.size() || split.switchText.size() > text.size()) std::abort();
  const scrivel::CommandLineRequest request = scrivel::ReadCommandLine(text);
  if (request.quitAfterRun && !request.start) std::abort();

  if (scrivel::FileTitle(text).size() > text.size()) std::abort();

  int32_t whole = -1;
  if (scrivel::ReadWholeNumber(text, &whole) == scrivel::FieldRead::kValue && whole < 0) std::abort();
  double decimal = 0;
  const scrivel::NumberFormat german{3, u",", u".", 1, true};
  if (scrivel::ReadDecimalNumber(text, german, true, &decimal) == scrivel::FieldRead::kValue &&
      (std::isnan(decimal) || decimal < 0)) {
    std::abort();
  }

  scrivel::FillText(text, {u"C:\\a %s b.krs", u"%d"});
  scrivel::FormatSpan(text, 90061);

  scrivel::CSessionSettings record;
  record.SetClipText(scrivel::kClipDescription, text);
  if (scrivel::CSessionSettings::Text(record.clip[scrivel::kClipDescription]).size() > 256) std::abort();
  return 0;
}
