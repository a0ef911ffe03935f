// The Windows Imaging Component behind WindowsImaging.h. Wine implements
// the same interfaces, so the Windows tests exercise it.

#include "WindowsImaging.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <limits>
#include <new>

namespace Kvl::WindowsImaging {
namespace {

// Owns one COM reference.
template <typename Interface>
class ComRef {
public:
  ComRef() = default;
  ~ComRef() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }

private:
  Interface* pointer_ = nullptr;
};

// COM is entered once per thread (batches key on several) and left when
// the thread ends. A thread already in another apartment can still use the
// codecs, which are free-threaded.
class ComApartment {
public:
  ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComApartment() {
    if (entered_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

private:
  bool entered_;
};

HRESULT createFactory(ComRef<IWICImagingFactory>& factory) {
  thread_local ComApartment apartment;
  return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                          reinterpret_cast<void**>(factory.out()));
}

std::string hresultText(const char* step, HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  return std::string(step) + " failed (" + code + ")";
}

// The system's file calls take UTF-16 names; ours are in the process's
// code page, which keyvale-cli's manifest makes UTF-8.
std::wstring widePath(const std::string& path) {
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

bool failed(DecodedPicture& picture, Failure failure, std::string detail = {}) {
  picture.failure = failure;
  picture.detail = std::move(detail);
  picture.pixels.reset();
  return false;
}

bool copyPixels(IWICBitmapSource* converted, DecodedPicture& picture) {
  const std::uint64_t pixelCount = std::uint64_t{picture.width} * picture.height;
  const std::uint64_t rowBytes = std::uint64_t{picture.width} * sizeof(std::uint32_t);
  if (pixelCount > std::numeric_limits<std::size_t>::max() / sizeof(std::uint32_t) ||
      rowBytes > std::numeric_limits<UINT>::max()) {
    return failed(picture, Failure::TooLarge);
  }
  picture.pixels.reset(new (std::nothrow) std::uint32_t[static_cast<std::size_t>(pixelCount)]);
  if (!picture.pixels) return failed(picture, Failure::OutOfMemory);
  // A row at a time: CopyPixels counts the buffer in 32 bits.
  for (UINT y = 0; y < picture.height; ++y) {
    const WICRect row{0, static_cast<INT>(y), static_cast<INT>(picture.width), 1};
    BYTE* rowStart = reinterpret_cast<BYTE*>(picture.pixels.get() + std::uint64_t{y} * picture.width);
    const HRESULT result = converted->CopyPixels(&row, static_cast<UINT>(rowBytes), static_cast<UINT>(rowBytes),
                                                 rowStart);
    if (FAILED(result)) return failed(picture, Failure::Damaged, hresultText("decoding", result));
  }
  return true;
}

// Every layout is converted to 8-bit blue, green, red, alpha.
bool decodeFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, DecodedPicture& picture) {
  UINT width = 0;
  UINT height = 0;
  HRESULT result = frame->GetSize(&width, &height);
  if (FAILED(result)) return failed(picture, Failure::Damaged, hresultText("reading the size", result));
  picture.width = width;
  picture.height = height;
  if (width == 0 || height == 0 || width > MaximumSide || height > MaximumSide) {
    return failed(picture, Failure::TooLarge);
  }
  ComRef<IWICFormatConverter> converter;
  result = factory->CreateFormatConverter(converter.out());
  if (SUCCEEDED(result)) {
    result = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
  }
  if (FAILED(result)) return failed(picture, Failure::LayoutRefused);
  return copyPixels(converter.get(), picture);
}

HRESULT writeFrame(IWICBitmapEncoder* encoder, const std::uint32_t* pixels, UINT width, UINT height) {
  ComRef<IWICBitmapFrameEncode> frame;
  ComRef<IPropertyBag2> options;
  HRESULT result = encoder->CreateNewFrame(frame.out(), options.out());
  if (SUCCEEDED(result)) result = frame->Initialize(options.get());
  if (SUCCEEDED(result)) result = frame->SetSize(width, height);
  WICPixelFormatGUID layout = GUID_WICPixelFormat32bppBGRA;
  if (SUCCEEDED(result)) result = frame->SetPixelFormat(&layout);
  // The encoder may only offer a layout other than the one asked for.
  if (SUCCEEDED(result) && !IsEqualGUID(layout, GUID_WICPixelFormat32bppBGRA)) result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  const UINT stride = width * static_cast<UINT>(sizeof(std::uint32_t));
  if (SUCCEEDED(result)) {
    // The encoder only reads the pixels, whatever its signature says.
    BYTE* bytes = reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(pixels));
    result = frame->WritePixels(height, stride, stride * height, bytes);
  }
  if (SUCCEEDED(result)) result = frame->Commit();
  return result;
}

HRESULT encodeInto(IStream* stream, const std::uint32_t* pixels, UINT width, UINT height) {
  ComRef<IWICImagingFactory> factory;
  HRESULT result = createFactory(factory);
  ComRef<IWICBitmapEncoder> encoder;
  if (SUCCEEDED(result)) result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.out());
  if (SUCCEEDED(result)) result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(result)) result = writeFrame(encoder.get(), pixels, width, height);
  if (SUCCEEDED(result)) result = encoder->Commit();
  return result;
}

bool copyOut(IStream* stream, std::vector<unsigned char>& bytes) {
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &memory))) return false;
  STATSTG about{};
  if (FAILED(stream->Stat(&about, STATFLAG_NONAME))) return false;
  const auto* start = static_cast<const unsigned char*>(GlobalLock(memory));
  if (start == nullptr) return false;
  bytes.assign(start, start + static_cast<std::size_t>(about.cbSize.QuadPart));
  GlobalUnlock(memory);
  return true;
}

}  // namespace

DecodedPicture decodePicture(const std::string& path) {
  DecodedPicture picture;
  ComRef<IWICImagingFactory> factory;
  HRESULT result = createFactory(factory);
  if (FAILED(result)) {
    failed(picture, Failure::Damaged, hresultText("starting the system codecs", result));
    return picture;
  }
  ComRef<IWICBitmapDecoder> decoder;
  result = factory->CreateDecoderFromFilename(widePath(path).c_str(), nullptr, GENERIC_READ,
                                              WICDecodeMetadataCacheOnDemand, decoder.out());
  if (FAILED(result)) {
    failed(picture, Failure::Damaged, hresultText("decoding", result));
    return picture;
  }
  ComRef<IWICBitmapFrameDecode> frame;
  result = decoder->GetFrame(0, frame.out());
  if (FAILED(result)) {
    failed(picture, Failure::Damaged, hresultText("decoding the first frame", result));
    return picture;
  }
  decodeFrame(factory.get(), frame.get(), picture);
  return picture;
}

bool encodePng(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height,
               std::vector<unsigned char>& bytes, std::string& error) {
  ComRef<IStream> stream;
  HRESULT result = CreateStreamOnHGlobal(nullptr, TRUE, stream.out());
  if (SUCCEEDED(result)) result = encodeInto(stream.get(), pixels, width, height);
  if (FAILED(result)) {
    error = hresultText("encoding the PNG", result);
    return false;
  }
  if (!copyOut(stream.get(), bytes)) {
    error = "encoding the PNG failed (out of memory)";
    return false;
  }
  return true;
}

}  // namespace Kvl::WindowsImaging
