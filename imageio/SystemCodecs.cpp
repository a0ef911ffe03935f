// The one file of imageio that talks to Windows: the Windows Imaging
// Component decodes PNG, JPEG, BMP, GIF and TIFF and encodes PNG. Wine
// implements the same interfaces, so the Windows tests exercise it.

#include "SystemCodecs.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

#include "DecodedRows.h"
#include "FileHandle.h"

namespace Kvl {
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

// Sizes stay within signed 32 bits, as the libraries' readers hold them.
constexpr UINT MaximumSide = 0x7FFFFFFF;

class SystemReader final : public DecodedRows {
public:
  explicit SystemReader(PictureFormat format) : DecodedRows(format) {}
  bool open(const std::string& path);

private:
  bool decodeFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame);
  bool copyPixels(IWICBitmapSource* converted, UINT width, UINT height);
};

bool SystemReader::open(const std::string& path) {
  if (!FileHandle(path.c_str(), "rb")) return fail(LoadError::CannotOpen);
  ComRef<IWICImagingFactory> factory;
  HRESULT result = createFactory(factory);
  if (FAILED(result)) return fail(LoadError::Damaged, 0, 0, hresultText("starting the system codecs", result));
  ComRef<IWICBitmapDecoder> decoder;
  result = factory->CreateDecoderFromFilename(widePath(path).c_str(), nullptr, GENERIC_READ,
                                              WICDecodeMetadataCacheOnDemand, decoder.out());
  if (FAILED(result)) return fail(LoadError::Damaged, 0, 0, hresultText("decoding", result));
  ComRef<IWICBitmapFrameDecode> frame;
  result = decoder->GetFrame(0, frame.out());
  if (FAILED(result)) return fail(LoadError::Damaged, 0, 0, hresultText("decoding the first frame", result));
  return decodeFrame(factory.get(), frame.get());
}

// Every layout is converted to 8-bit blue, green, red, alpha, and the
// alpha then dropped, as the Targa reader drops a 32-bit file's alpha: the
// key computes its own.
bool SystemReader::decodeFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame) {
  UINT width = 0;
  UINT height = 0;
  HRESULT result = frame->GetSize(&width, &height);
  if (FAILED(result)) return fail(LoadError::Damaged, 0, 0, hresultText("reading the size", result));
  if (width == 0 || height == 0 || width > MaximumSide || height > MaximumSide) {
    return fail(LoadError::TooLarge, width, height);
  }
  ComRef<IWICFormatConverter> converter;
  result = factory->CreateFormatConverter(converter.out());
  if (SUCCEEDED(result)) {
    result = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
  }
  if (FAILED(result)) return fail(LoadError::LayoutRefused, width, height);
  return copyPixels(converter.get(), width, height);
}

bool SystemReader::copyPixels(IWICBitmapSource* converted, UINT width, UINT height) {
  const std::uint64_t pixelCount = std::uint64_t{width} * height;
  const std::uint64_t rowBytes = std::uint64_t{width} * sizeof(Pixel32);
  if (pixelCount > std::numeric_limits<std::size_t>::max() / sizeof(Pixel32) ||
      rowBytes > std::numeric_limits<UINT>::max()) {
    return fail(LoadError::TooLarge, width, height);
  }
  std::unique_ptr<Pixel32[]> pixels(new (std::nothrow) Pixel32[static_cast<std::size_t>(pixelCount)]);
  if (!pixels) return fail(LoadError::OutOfMemory, width, height);
  // A row at a time: CopyPixels counts the buffer in 32 bits.
  for (UINT y = 0; y < height; ++y) {
    const WICRect row{0, static_cast<INT>(y), static_cast<INT>(width), 1};
    const HRESULT result = converted->CopyPixels(&row, static_cast<UINT>(rowBytes), static_cast<UINT>(rowBytes),
                                                 reinterpret_cast<BYTE*>(pixels.get() + std::uint64_t{y} * width));
    if (FAILED(result)) return fail(LoadError::Damaged, width, height, hresultText("decoding", result));
  }
  std::for_each(pixels.get(), pixels.get() + pixelCount, [](Pixel32& pixel) { pixel &= 0x00FFFFFFu; });
  keep(std::move(pixels), width, height, false);
  return true;
}

// The PNG is encoded whole into memory at commit, then written through a
// ReplacingFile like every other output, so a failure or an interruption
// never leaves a partial file under the output's name.
class SystemPngSink final : public PictureSink {
public:
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  HRESULT encodeInto(IStream* stream);
  HRESULT writeFrame(IWICBitmapEncoder* encoder);
  bool copyOut(IStream* stream);

  std::unique_ptr<ReplacingFile> output_;
  UINT width_ = 0;
  UINT height_ = 0;
  std::vector<Pixel32> upright_;  // top row first, as PNG stores it
};

bool SystemPngSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder) {
  const std::uint64_t pixelCount = width * height;
  if (width == 0 || height == 0 || width > MaximumSide || height > MaximumSide ||
      pixelCount > std::numeric_limits<UINT>::max() / sizeof(Pixel32)) {
    return fail("a PNG file cannot hold a " + std::to_string(width) + " x " + std::to_string(height) + " picture");
  }
  output_ = std::make_unique<ReplacingFile>(path);
  if (!output_->open()) return fail("cannot open for writing");
  width_ = static_cast<UINT>(width);
  height_ = static_cast<UINT>(height);
  upright_.assign(static_cast<std::size_t>(pixelCount), 0);
  return true;
}

// Rows come bottom row first; each goes to its place counted from the top.
void SystemPngSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t fromTop = height_ - 1 - (firstRow + i);
    std::copy_n(rows + i * width_, width_, upright_.begin() + static_cast<std::ptrdiff_t>(fromTop * width_));
  }
}

bool SystemPngSink::commit() {
  if (output_ == nullptr) return fail("cannot open for writing");
  ComRef<IStream> stream;
  HRESULT result = CreateStreamOnHGlobal(nullptr, TRUE, stream.out());
  if (SUCCEEDED(result)) result = encodeInto(stream.get());
  if (FAILED(result)) return fail(hresultText("encoding the PNG", result));
  if (!copyOut(stream.get()) || !output_->commit()) return fail("writing failed (disk full or not writable)");
  return true;
}

HRESULT SystemPngSink::encodeInto(IStream* stream) {
  ComRef<IWICImagingFactory> factory;
  HRESULT result = createFactory(factory);
  ComRef<IWICBitmapEncoder> encoder;
  if (SUCCEEDED(result)) result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.out());
  if (SUCCEEDED(result)) result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(result)) result = writeFrame(encoder.get());
  if (SUCCEEDED(result)) result = encoder->Commit();
  return result;
}

HRESULT SystemPngSink::writeFrame(IWICBitmapEncoder* encoder) {
  ComRef<IWICBitmapFrameEncode> frame;
  ComRef<IPropertyBag2> options;
  HRESULT result = encoder->CreateNewFrame(frame.out(), options.out());
  if (SUCCEEDED(result)) result = frame->Initialize(options.get());
  if (SUCCEEDED(result)) result = frame->SetSize(width_, height_);
  WICPixelFormatGUID layout = GUID_WICPixelFormat32bppBGRA;
  if (SUCCEEDED(result)) result = frame->SetPixelFormat(&layout);
  // The encoder may only offer a layout other than the one asked for.
  if (SUCCEEDED(result) && !IsEqualGUID(layout, GUID_WICPixelFormat32bppBGRA)) result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  const UINT stride = width_ * static_cast<UINT>(sizeof(Pixel32));
  if (SUCCEEDED(result)) {
    result = frame->WritePixels(height_, stride, stride * height_, reinterpret_cast<BYTE*>(upright_.data()));
  }
  if (SUCCEEDED(result)) result = frame->Commit();
  return result;
}

bool SystemPngSink::copyOut(IStream* stream) {
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &memory))) return false;
  STATSTG about{};
  if (FAILED(stream->Stat(&about, STATFLAG_NONAME))) return false;
  const void* bytes = GlobalLock(memory);
  if (bytes == nullptr) return false;
  output_->write(bytes, static_cast<std::size_t>(about.cbSize.QuadPart));
  GlobalUnlock(memory);
  return true;
}

}  // namespace

std::unique_ptr<PictureSource> openWithSystemCodecs(const std::string& path, PictureFormat format,
                                                    PictureError& error) {
  auto reader = std::make_unique<SystemReader>(format);
  if (reader->open(path)) return reader;
  error = reader->failure();
  return nullptr;
}

std::unique_ptr<PictureSink> makeSystemPngSink() { return std::make_unique<SystemPngSink>(); }

}  // namespace Kvl
