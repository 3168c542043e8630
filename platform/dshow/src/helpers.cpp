#include "dshow/helpers.h"

#include <algorithm>

HRESULT RequestBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, long count, long size) {
  request->cBuffers = std::max(request->cBuffers, count);
  request->cbBuffer = std::max(request->cbBuffer, size);
  if (request->cbAlign < 1) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

const VIDEOINFOHEADER* VideoInfoOf(const CMediaType* mt) {
  if (!IsEqualGUID(*mt->FormatType(), FORMAT_VideoInfo) || mt->FormatLength() < sizeof(VIDEOINFOHEADER) ||
      !mt->Format())
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format());
}
