// Small COM helpers shared by the engine's sources.
#pragma once

namespace mediaengine {

template <class T>
void SafeRelease(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace mediaengine
