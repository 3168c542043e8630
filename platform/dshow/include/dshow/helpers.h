// Small helpers our filters share: the allocator a pin asks for, and the
// VIDEOINFOHEADER of a media type.
#pragma once

#include "dshow/base.h"

#include <amvideo.h>

// Asks for at least count buffers of at least size bytes (keeping larger
// requests); fails when the allocator gives smaller buffers.
HRESULT RequestBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, long count, long size);

// The type's VIDEOINFOHEADER; null when its format is none (or too short).
const VIDEOINFOHEADER* VideoInfoOf(const CMediaType* mt);
