#include "SystemCodecFiles.h"

#ifdef _WIN32
#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include "imageio/PathText.h"

namespace Kvl::Test {
namespace {

template <typename Interface>
struct Com {
  Interface* p = nullptr;
  ~Com() {
    if (p != nullptr) p->Release();
  }
  Interface** out() { return &p; }
  Interface* operator->() const { return p; }
};

IWICImagingFactory* factory() {
  static const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  static IWICImagingFactory* made = [] {
    IWICImagingFactory* f = nullptr;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&f));
    return f;
  }();
  (void)entered;
  return made;
}

// Each step only when the ones before succeeded; the first failure is kept.
struct Steps {
  HRESULT result = S_OK;
  template <typename Step>
  Steps& then(Step step) {
    if (SUCCEEDED(result)) result = step();
    return *this;
  }
};

}  // namespace

void writeWithSystem(const std::string& path, SystemFormat format, const BgraImage& image) {
  Com<IWICStream> stream;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  const std::wstring wide = pathOf(path).wstring();
  WICPixelFormatGUID layout = format == SystemFormat::Png ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
  std::vector<std::uint8_t> pixels = image.bgra;
  UINT stride = image.width * 4;
  if (format != SystemFormat::Png) {  // blue, green, red: no alpha
    std::vector<std::uint8_t> bgr;
    for (std::size_t i = 0; i < pixels.size(); i += 4) bgr.insert(bgr.end(), pixels.begin() + i, pixels.begin() + i + 3);
    pixels = bgr;
    stride = image.width * 3;
  }
  const GUID container = format == SystemFormat::Png    ? GUID_ContainerFormatPng
                         : format == SystemFormat::Jpeg ? GUID_ContainerFormatJpeg
                                                        : GUID_ContainerFormatBmp;
  Steps steps;
  steps.then([&] { return factory()->CreateStream(stream.out()); })
      .then([&] { return stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE); })
      .then([&] { return factory()->CreateEncoder(container, nullptr, encoder.out()); })
      .then([&] { return encoder->Initialize(stream.p, WICBitmapEncoderNoCache); })
      .then([&] { return encoder->CreateNewFrame(frame.out(), options.out()); })
      .then([&] {
        if (format != SystemFormat::Jpeg) return S_OK;
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = 1.0f;
        return options->Write(1, &option, &value);
      })
      .then([&] { return frame->Initialize(options.p); })
      .then([&] { return frame->SetSize(image.width, image.height); })
      .then([&] { return frame->SetPixelFormat(&layout); })
      .then([&] { return frame->WritePixels(image.height, stride, static_cast<UINT>(pixels.size()), pixels.data()); })
      .then([&] { return frame->Commit(); })
      .then([&] { return encoder->Commit(); });
  ASSERT_TRUE(SUCCEEDED(steps.result)) << path << std::hex << " " << steps.result;
}

BgraImage readWithSystem(const std::string& path) {
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  Com<IWICFormatConverter> converter;
  BgraImage image;
  const std::wstring wide = pathOf(path).wstring();
  Steps steps;
  steps.then([&] {
         return factory()->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, decoder.out());
       })
      .then([&] { return decoder->GetFrame(0, frame.out()); })
      .then([&] { return frame->GetSize(&image.width, &image.height); })
      .then([&] { return factory()->CreateFormatConverter(converter.out()); })
      .then([&] {
        return converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom);
      })
      .then([&] {
        image.bgra.resize(std::size_t{image.width} * image.height * 4);
        return converter->CopyPixels(nullptr, image.width * 4, static_cast<UINT>(image.bgra.size()),
                                     image.bgra.data());
      });
  if (FAILED(steps.result)) return {};
  return image;
}

}  // namespace Kvl::Test
#endif
