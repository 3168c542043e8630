#include "mediaengine/imgfile.h"

#include <wincodec.h>

#include "mediaengine/errors.h"
#include "release.h"

namespace mediaengine {

namespace {

// No still image file is larger than this.
constexpr LONGLONG kMostFileBytes = 256LL << 20;

std::string Utf8(LPCWSTR text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

bool ReadWholeFile(LPCWSTR path, std::vector<uint8_t>* bytes) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= kMostFileBytes;
  if (ok) {
    bytes->resize(size_t(size.QuadPart));
    DWORD read = 0;
    ok = ReadFile(file, bytes->data(), DWORD(bytes->size()), &read, nullptr) && read == bytes->size();
  }
  CloseHandle(file);
  return ok;
}

IWICImagingFactory* ImagingFactory() {
  IWICImagingFactory* factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))))
    return nullptr;
  return factory;
}

}  // namespace

void CImgFile::Free() {
  picture_ = StillPicture{};
  error_.clear();
}

HRESULT CImgFile::Load(LPCWSTR path, BITMAPINFOHEADER* header, const BYTE** pixels) {
  if (!path || !header || !pixels) return KRM_E_BAD_PARAMETER;
  *pixels = nullptr;
  Free();
  ImageKind kind = ImageKindFromName(Utf8(path));
  HANDLE probe = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE || kind == ImageKind::Invalid) {
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
    error_ = "Invalid file name";
    return KRM_E_INVALID_FILE_NAME;
  }
  CloseHandle(probe);
  bool ok = kind == ImageKind::Bmp ? ReadBmp(path, &picture_) : ReadJpeg(path, &picture_);
  if (!ok) {
    picture_ = StillPicture{};
    return KRM_E_WRONG_IMAGE_FORMAT;
  }
  *header = BITMAPINFOHEADER{};
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = picture_.header.width;
  header->biHeight = picture_.header.height;
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biCompression = BI_RGB;
  header->biSizeImage = picture_.header.imageSize;
  *pixels = picture_.pixels.data();
  return S_OK;
}

HRESULT CImgFile::Save(LPCWSTR path, LONG type, const BITMAPINFOHEADER* header, const BYTE* pixels) {
  if (!path || !header || !pixels) return KRM_E_BAD_PARAMETER;
  if (header->biBitCount != 24 || header->biWidth <= 0 || header->biHeight <= 0) return KRM_E_WRONG_IMAGE_FORMAT;
  bool ok = false;
  if (type == 1)
    ok = WriteBmp(path, pixels, header->biWidth, header->biHeight);
  else if (type == 2)
    ok = WriteJpeg(path, pixels, header->biWidth, header->biHeight);
  return ok ? S_OK : KRM_E_WRONG_IMAGE_FORMAT;
}

bool CImgFile::ReadBmp(LPCWSTR path, StillPicture* picture) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes)) {
    error_ = "Can't open file for reading :\n" + Utf8(path);
    return false;
  }
  return LoadBmpPicture(bytes.data(), bytes.size(), picture, &error_);
}

bool CImgFile::WriteBmp(LPCWSTR path, const BYTE* pixels, int width, int height) {
  std::vector<uint8_t> bytes = mediaengine::WriteBmp(pixels, width, height);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = "Can't open file for writing";
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  if (!ok) {
    error_ = "Write Error";
    DeleteFileW(path);
  }
  return ok;
}

bool CImgFile::ReadJpeg(LPCWSTR path, StillPicture* picture) {
  IWICImagingFactory* factory = ImagingFactory();
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICBitmapSource* bgr = nullptr;
  GUID container = GUID_NULL;
  UINT width = 0, height = 0;
  bool ok = false;
  if (!factory) {
    error_ = "No JPEG codec";
  } else if (FAILED(factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                       &decoder)) ||
             FAILED(decoder->GetContainerFormat(&container)) || !IsEqualGUID(container, GUID_ContainerFormatJpeg)) {
    error_ = "Not a JPEG file";
  } else if (FAILED(decoder->GetFrame(0, &frame)) ||
             FAILED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame, &bgr)) ||
             FAILED(bgr->GetSize(&width, &height))) {
    error_ = "Read Error";
  } else if (width == 0 || height == 0 || width > UINT(kBmpMaxSide) || height > UINT(kBmpMaxSide) ||
             int64_t(width) * height > kBmpMaxPixels) {
    error_ = "Unsupported image size";
  } else {
    const size_t row = RowSize24(int(width));
    std::vector<uint8_t> rows(row * height);
    if (FAILED(bgr->CopyPixels(nullptr, UINT(row), UINT(rows.size()), rows.data()))) {
      error_ = "Read Error";
    } else {
      MakeStillPicture(std::move(rows), int(width), int(height), picture);
      ok = true;
    }
  }
  SafeRelease(bgr);
  SafeRelease(frame);
  SafeRelease(decoder);
  SafeRelease(factory);
  return ok;
}

bool CImgFile::WriteJpeg(LPCWSTR path, const BYTE* pixels, int width, int height) {
  // The codec takes rows top-down: a flipped copy, so the caller's picture
  // stays as it is.
  const size_t row = RowSize24(width);
  std::vector<uint8_t> rows(pixels, pixels + row * size_t(height));
  FlipRows(rows.data(), width, height);

  IWICImagingFactory* factory = ImagingFactory();
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  IPropertyBag2* options = nullptr;
  HRESULT hr = factory ? factory->CreateStream(&stream) : E_FAIL;
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path, GENERIC_WRITE);
  bool created = SUCCEEDED(hr);
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder);
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
  if (SUCCEEDED(hr)) {
    PROPBAG2 option = {};
    VARIANT value;
    VariantInit(&value);
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    value.vt = VT_R4;
    value.fltVal = 0.75f;
    options->Write(1, &option, &value);
    // Chroma halved both ways; a codec without the option keeps its own.
    option.pstrName = const_cast<LPOLESTR>(L"JpegYCrCbSubsampling");
    value.vt = VT_UI1;
    value.bVal = WICJpegYCrCbSubsampling420;
    options->Write(1, &option, &value);
    hr = frame->Initialize(options);
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(hr)) hr = frame->SetSize(UINT(width), UINT(height));
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = frame->WritePixels(UINT(height), UINT(row), UINT(rows.size()), rows.data());
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  SafeRelease(options);
  SafeRelease(frame);
  SafeRelease(encoder);
  SafeRelease(stream);
  SafeRelease(factory);
  if (FAILED(hr)) {
    error_ = created ? "Write Error" : "Can't open file for writing";
    if (created) DeleteFileW(path);
    return false;
  }
  return true;
}

}  // namespace mediaengine
