#include "audioencfilter/aac_library.h"

namespace {
// The AAC encoder library's encoder core is not built yet: no table, so the
// AAC codec object refuses to initialise instead of pretending to encode.
const AacLibrary* g_library = nullptr;
}  // namespace

const AacLibrary* AacLibraryInProduct() { return g_library; }

void UseAacLibrary(const AacLibrary* library) { g_library = library; }
