#include "DeepFileKeying.h"

#include <algorithm>
#include <new>

#include "Background.h"
#include "DeepAdapters.h"
#include "engine/DeepKeying.h"
#include "keying/LightWrap.h"
#include "imageio/ReplacingFile.h"

namespace Kvl::Cli {
namespace {

FileOutcome failure(std::string path, std::string reason, FileOutcome outcome = {}) {
  outcome.ok = false;
  outcome.errorPath = std::move(path);
  outcome.error = std::move(reason);
  return outcome;
}

// The views are fed 8-bit rows directly; the keyed output goes elsewhere.
class NoOutput final : public PictureSink {
public:
  bool open(const std::string&, std::uint64_t, std::uint64_t, RowOrder) override { return true; }
  void writeRows(std::uint64_t, const Pixel32*, std::size_t) override {}
  bool commit() override { return true; }
};

// Keyed float rows (straight alpha, in the input's transfer) on their way
// to the file: seen by the views, laid over the background, converted to
// the output's transfer and alpha convention, written deep or in 8 bits.
class DeepOutput {
public:
  DeepOutput(const FileJob& job, DeepFormat input, Transfer keyed, std::uint32_t width, std::uint32_t height)
      : job_(job), input_(input), keyed_(keyed), width_(width), height_(height), eightRow_(width) {}

  bool open(const DeepLayout& inputLayout, std::string& path, std::string& error) {
    if (!openViews(path, error) || !openBackground(path, error)) return false;
    path = job_.output;
    const std::optional<DeepFormat> deepFormat = deepOutputFormat(job_.format, true);
    if (!deepFormat) {
      eight_ = makePictureSink(job_.format, job_.pngLevel, 0, job_.deep);
      if (!eight_) return refuse(unsupportedOutput(job_.format), error);
      return eight_->open(job_.output, width_, height_, RowOrder::TopDown) || refuse(eight_->failure(), error);
    }
    layout_ = outputLayoutFor(*deepFormat, inputLayout, job_.deep);
    if (background_) layout_.premultiplied = false;  // opaque: the same either way
    deep_ = makeDeepSink(*deepFormat, job_.deep.exrCompression);
    if (!deep_) return refuse(deepFormatRefusal(*deepFormat), error);
    return deep_->open(job_.output, width_, height_, layout_) || refuse(deep_->failure(), error);
  }

  // With light wrap the keyed picture is held whole until finish().
  void write(PixelF* rows, std::uint32_t topRow, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      PixelF* row = rows + i * width_;
      const std::uint32_t y = topRow + static_cast<std::uint32_t>(i);
      if (views_) {
        for (std::size_t x = 0; x < width_; ++x) eightRow_[x] = displayPixel(row[x], keyed_);
        views_->writeRows(height_ - 1 - y, eightRow_.data(), 1);
      }
      if (wrapping()) {
        std::copy_n(row, width_, held_.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * width_));
        continue;
      }
      emit(row, y);
    }
  }

  bool commit(std::string& path, std::string& error) {
    if (wrapping()) finishWrap();
    path = job_.output;
    if (deep_ && !deep_->commit()) return refuse(deep_->failure(), error);
    if (eight_ && !eight_->commit()) return refuse(eight_->failure(), error);
    if (views_ && !views_->commit()) {
      path = views_->failedPath();
      return refuse(views_->failure(), error);
    }
    return true;
  }

private:
  bool wrapping() const { return background_ && job_.deep.lightWrap > 0; }

  void emit(PixelF* row, std::uint32_t y) {
    if (background_) compose(row, y);
    if (deep_) {
      convert(row);
      deep_->writeRows(row, 1);
      return;
    }
    for (std::size_t x = 0; x < width_; ++x) eightRow_[x] = displayPixel(row[x], keyed_);
    eight_->writeRows(height_ - 1 - y, eightRow_.data(), 1);
  }

  void finishWrap() {
    wrapLight(held_, width_, height_, job_.deep.lightWrap, [this](std::uint32_t x, std::uint32_t y) {
      const Pixel32 b = background_->at(x, y);
      return PixelF{valueOfLevel(redOf(b), keyed_), valueOfLevel(greenOf(b), keyed_), valueOfLevel(blueOf(b), keyed_), 1};
    });
    for (std::uint32_t y = 0; y < height_; ++y) emit(held_.data() + std::size_t{y} * width_, y);
    held_.clear();
  }

  static bool refuse(const std::string& reason, std::string& error) {
    error = reason;
    return false;
  }

  bool openViews(std::string& path, std::string& error) {
    if (job_.views.empty()) return true;
    std::unique_ptr<PictureSource> plate;
    if (!job_.views.status.empty()) {
      std::string ignored;  // read once already; a failure now shows at open
      if (auto again = openDeepPicture(job_.input, input_, ignored)) plate = std::make_unique<DeepAsEightBit>(std::move(again), keyed_);
    }
    views_ = std::make_unique<ViewSink>(std::make_unique<NoOutput>(), job_.views, job_.pngLevel, std::move(plate));
    if (views_->open(job_.output, width_, height_, RowOrder::TopDown)) return true;
    path = views_->failedPath();
    return refuse(views_->failure(), error);
  }

  bool openBackground(std::string& path, std::string& error) {
    if (job_.background.empty()) return true;
    background_ = makeBackground(job_.background, width_, height_, error);
    path = job_.background;
    if (background_ && job_.deep.lightWrap > 0) held_.resize(std::size_t{width_} * height_);
    return background_.has_value();
  }

  // The background's 8-bit (sRGB-coded) colour in the keyed transfer, mixed
  // in by the matte: straight colour times alpha, background times the rest.
  void compose(PixelF* row, std::uint32_t y) const {
    for (std::uint32_t x = 0; x < width_; ++x) {
      const Pixel32 b = background_->at(x, y);
      PixelF& p = row[x];
      const float a = std::clamp(p.alpha, 0.0f, 1.0f), rest = 1.0f - a;
      p = {p.red * a + valueOfLevel(redOf(b), keyed_) * rest, p.green * a + valueOfLevel(greenOf(b), keyed_) * rest,
           p.blue * a + valueOfLevel(blueOf(b), keyed_) * rest, 1.0f};
    }
  }

  void convert(PixelF* row) const {
    if (keyed_ == layout_.transfer) {
      scaleByAlpha(row);
      return;
    }
    for (std::size_t x = 0; x < width_; ++x) {
      PixelF& p = row[x];
      const float scale = layout_.premultiplied ? p.alpha : 1.0f;
      p.red = convertTransfer(p.red, keyed_, layout_.transfer) * scale;
      p.green = convertTransfer(p.green, keyed_, layout_.transfer) * scale;
      p.blue = convertTransfer(p.blue, keyed_, layout_.transfer) * scale;
    }
  }

  // convert() with the transfer kept: the colour times the alpha, or times
  // 1 when the output is straight, as convert() computes it.
  void scaleByAlpha(PixelF* row) const {
    const bool premultiplied = layout_.premultiplied;
    for (std::size_t x = 0; x < width_; ++x) {
      PixelF& p = row[x];
      const float scale = premultiplied ? p.alpha : 1.0f;
      p.red *= scale;
      p.green *= scale;
      p.blue *= scale;
    }
  }

  const FileJob& job_;
  DeepFormat input_;
  Transfer keyed_;
  std::uint32_t width_, height_;
  DeepLayout layout_;
  std::unique_ptr<DeepPictureSink> deep_;
  std::unique_ptr<PictureSink> eight_;
  std::unique_ptr<ViewSink> views_;
  std::optional<Background> background_;
  std::vector<Pixel32> eightRow_;
  std::vector<PixelF> held_;  // the keyed picture, top row first, while light wrap waits for it whole
};

FileOutcome keyDeepPictureFile(const FileJob& job, const KeyingRequest& wanted, DeepFormat format) {
  FileOutcome outcome;
  std::string error;
  std::unique_ptr<DeepPictureSource> source = openDeepPicture(job.input, format, error);
  if (!source) return failure(job.input, error);
  if (job.refinement) {
    return failure(job.output, "the matte refinement options work in 8 bits: key this deep picture without them, "
                               "or with --keyer classic");
  }
  const Transfer transfer = job.deep.inputTransfer.value_or(source->layout().transfer);
  outcome.settings = givenKeying(wanted);
  if (wanted.cleanPlate || outcome.settings.plate.cleanPlate) {
    // The float keyer keys against the fitted backdrop only.
    return failure(job.input, "a clean plate is used with 8-bit pictures only: key this deep picture without one");
  }
  if (wanted.choosesFromPicture()) {
    std::string refusal;
    std::optional<PlateSettings> plate = surveyDeepPlate(*source, wanted.classic, wanted.screen, refusal);
    if (!plate) return failure(job.input, refusal, outcome);
    outcome.settings.plate = std::move(*plate);
    if (!source->rewind()) return failure(job.input, "cannot open for reading", outcome);
  }
  DeepOutput output(job, format, transfer, source->width(), source->height());
  std::string path;
  if (!output.open(source->layout(), path, error)) return failure(path, error, outcome);
  keyDeepPicture(
      *source, outcome.settings.plate,
      [&output](const PixelF* rows, std::uint32_t topRow, std::size_t count) {
        output.write(const_cast<PixelF*>(rows), topRow, count);  // the keyer's own chunk, no longer needed
      },
      job.keyThreads);
  if (source->damaged()) outcome.warning = "file is damaged or truncated: " + source->damage() + "; keyed as far as it reads";
  outcome.pixelCount = std::uint64_t{source->width()} * source->height();
  source.reset();  // before the output replaces it, which may be the same file
  if (!output.commit(path, error)) return failure(path, error, outcome);
  outcome.ok = true;
  return outcome;
}

}  // namespace

bool keysInFloat(std::optional<DeepFormat> input, KeyerKind keyer) { return input && keyer == KeyerKind::Plate; }

std::optional<DeepFormat> deepOutputFormat(OutputFormat format, bool deepInput) {
  switch (format) {
    case OutputFormat::Exr: return DeepFormat::Exr;
    case OutputFormat::Tiff: return DeepFormat::Tiff;
    case OutputFormat::Png: return deepInput ? std::optional(DeepFormat::Png16) : std::nullopt;
    default: break;
  }
  return std::nullopt;
}

FileOutcome keyDeepFile(const FileJob& job, const KeyingRequest& wanted, DeepFormat input) {
  try {
    FileOutcome outcome = keyDeepPictureFile(job, wanted, input);
    if (!outcome.ok && ReplacingFile::abandoned()) return failure(job.output, "interrupted; not written", outcome);
    return outcome;
  } catch (const std::bad_alloc&) {
    return failure(job.input, "not enough memory for the image");
  }
}

}  // namespace Kvl::Cli
