#include "Keying.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "keying/Key.h"
#include "engine/PreviewWorkspace.h"

namespace Kvl {
namespace {

// The plate keyer shares a chunk's rows out among up to `threads` threads,
// each with a keyer of its own, which take a few rows at a time until none
// are left: the calling thread joins in once it has read and written what
// it must meanwhile. Every row is keyed the same wherever it runs. The
// helper threads live as long as the keyer: a picture comes in some hundred
// chunks, and starting a thread for each costs more, on a small machine,
// than a tenth of the chunk it would key.
class PlateRowKeyer final : public RowKeyer {
public:
  PlateRowKeyer(const PlateSettings& settings, std::uint32_t width, std::uint32_t height, int threads)
      : keyers_(static_cast<std::size_t>(std::max(1, threads)), PlateKeyer(settings, width, height)) {
    helpers_.reserve(keyers_.size() - 1);  // so that only starting a thread can fail below
    for (std::size_t part = 1; part < keyers_.size(); ++part) {
      try {
        helpers_.emplace_back([this, part] { serve(part - 1, keyers_[part]); });
      } catch (const std::system_error&) {
        break;  // no more threads to be had: key with those there are
      }
    }
  }

  ~PlateRowKeyer() override {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
  }

  PlateRowKeyer(const PlateRowKeyer&) = delete;
  PlateRowKeyer& operator=(const PlateRowKeyer&) = delete;

  void startRows(const RowJob* rows, std::size_t count) override {
    {
      const std::lock_guard lock(mutex_);
      rows_ = rows;
      count_ = count;
      next_.store(0, std::memory_order_relaxed);
      // A thread is worth waking for some thousands of pixels at least.
      woken_ = std::min(helpers_.size(), count / 8);
      busy_ = woken_;
      ++started_;
    }
    if (woken_ > 0) wake_.notify_all();
  }

  void finishRows() override {
    keyClaimedRows(keyers_[0]);
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
  }

  void keyRows(const RowJob* rows, std::size_t count) {
    startRows(rows, count);
    finishRows();
  }

  // Whether a whole picture is keyed twice: against a clean plate, the
  // second time with the foreground sought in every direction.
  bool keysWholePictures() const { return keyers_[0].usesCleanPlate(); }

  // Keys a whole picture held in memory, top row first, from `original`
  // into `keyed`; against a clean plate, keys every row again once all are
  // keyed.
  void keyWholePicture(const Pixel32* original, Pixel32* keyed, std::uint32_t width, std::uint32_t height) {
    std::vector<RowJob> rows(height);
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::size_t start = std::size_t{y} * width;
      rows[y] = {original + start, keyed + start, y};
    }
    keyRows(rows.data(), rows.size());
    if (!keysWholePictures()) return;
    std::vector<std::uint8_t> surelySolid(std::size_t{width} * height);
    PlateKey::markSurelySolid(keyed, width, height, surelySolid.data());
    const PlateKey::CleanPlatePicture picture{original, keyed, surelySolid.data(), width, height};
    picture_ = &picture;
    keyRows(nullptr, height);
    picture_ = nullptr;
  }

private:
  // Helper `index` keys rows of every chunk started that wakes it, until
  // the keyer stops. (A mutex and condition variables, not semaphores:
  // those lose wake-ups in some C++ libraries that lack a futex.)
  void serve(std::size_t index, PlateKeyer& keyer) {
    std::uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || started_ != seen; });
        if (stopping_) return;
        seen = started_;
        if (index >= woken_) continue;
      }
      keyClaimedRows(keyer);
      const std::lock_guard lock(mutex_);
      if (--busy_ == 0) finished_.notify_one();
    }
  }

  void keyClaimedRows(PlateKeyer& keyer) {
    constexpr std::size_t RowsPerClaim = 2;
    for (;;) {
      const std::size_t first = next_.fetch_add(RowsPerClaim, std::memory_order_relaxed);
      if (first >= count_) return;
      const std::size_t last = std::min(first + RowsPerClaim, count_);
      for (std::size_t i = first; i < last; ++i) {
        if (picture_) {
          keyer.keyRowAgainstCleanPlate(*picture_, static_cast<std::uint32_t>(i));
        } else {
          keyer.keyRow(rows_[i].in, rows_[i].out, rows_[i].topRow);
        }
      }
    }
  }

  std::vector<PlateKeyer> keyers_;
  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;      // a chunk started, or the keyer stops
  std::condition_variable finished_;  // the last helper woken is done
  const RowJob* rows_ = nullptr;      // the chunk started
  // Or, in the second pass against a clean plate, the picture whose rows
  // are keyed again (their count is the chunk's).
  const PlateKey::CleanPlatePicture* picture_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};  // its first row not yet claimed
  std::size_t woken_ = 0;             // the helpers that key it
  std::size_t busy_ = 0;              // of those, the ones still at it
  std::uint64_t started_ = 0;         // chunks started
  bool stopping_ = false;
};

// Keys a picture against a clean plate: read whole, since its second pass
// looks for the foreground across rows, then written in the sink's order.
void keyWholePicture(PictureSource& source, PlateRowKeyer& keyer, PictureSink& sink) {
  const std::uint32_t width = source.width(), height = source.height();
  std::vector<Pixel32> original(std::size_t{width} * height), keyed(original.size());
  const bool topDown = source.rowOrder() == RowOrder::TopDown;
  const auto topRowOf = [&](std::uint32_t handedOut) { return topDown ? handedOut : height - 1 - handedOut; };
  for (std::uint32_t i = 0; i < height; ++i) source.readRows(original.data() + std::size_t{topRowOf(i)} * width, 1);
  keyer.keyWholePicture(original.data(), keyed.data(), width, height);
  for (std::uint32_t i = 0; i < height; ++i) {
    const std::uint32_t topRow = topRowOf(i);
    sink.writeRows(height - 1 - topRow, keyed.data() + std::size_t{topRow} * width, 1);
  }
}

// Reads the rows the survey wants, skipping the others, in the source's order.
std::optional<PlateSettings> surveyPlate(PictureSource& source, const KeyingRequest& request, std::string& refusal) {
  BackdropSurvey survey(source.width(), source.height());
  std::vector<Pixel32> row(source.width());
  std::uint64_t skipped = 0;
  for (std::uint32_t handedOut = 0; handedOut < source.height(); ++handedOut) {
    const std::uint32_t topRow = source.rowOrder() == RowOrder::TopDown ? handedOut : source.height() - 1 - handedOut;
    if (!survey.wantsRow(topRow)) {
      ++skipped;
      continue;
    }
    if (skipped > 0) source.skipRows(skipped);
    skipped = 0;
    source.readRows(row.data(), 1);
    survey.addRow(row.data(), topRow);
  }
  return fitPlate(survey, {request.classic.channel, request.classic.autoAdjust, source.colourQuantisation(), request.screen},
                  &refusal);
}

}  // namespace

const char* keyerName(KeyerKind keyer) { return keyer == KeyerKind::Plate ? "plate" : "classic"; }

std::optional<KeyerKind> parseKeyerName(const std::string& name) {
  if (name == "classic") return KeyerKind::Classic;
  if (name == "plate") return KeyerKind::Plate;
  return std::nullopt;
}

KeyingRequest KeyingRequest::given(const Keying& keying) {
  KeyingRequest request;
  request.keyer = keying.keyer;
  request.classic = {keying.classic.channel, keying.classic.contrast, keying.classic.offset, false};
  if (keying.keyer == KeyerKind::Plate) request.plate = keying.plate;
  return request;
}

bool KeyingRequest::choosesFromPicture() const {
  if (keyer == KeyerKind::Plate) return !plate.has_value();
  return !classic.channel || classic.autoAdjust;
}

Keying givenKeying(const KeyingRequest& request) {
  Keying keying;
  keying.keyer = request.keyer;
  keying.classic = {request.classic.channel.value_or(GreenChannel), request.classic.contrast, request.classic.offset};
  if (request.plate) keying.plate = *request.plate;
  return keying;
}

std::optional<Keying> chooseKeying(PictureSource& source, const KeyingRequest& request, std::string& refusal) {
  Keying keying = givenKeying(request);
  if (!request.choosesFromPicture()) return keying;
  if (request.keyer == KeyerKind::Plate) {
    std::optional<PlateSettings> plate = surveyPlate(source, request, refusal);
    if (!plate) return std::nullopt;
    keying.plate = std::move(*plate);
    keying.plate.cleanPlateFile = request.cleanPlateFile;
    keying.plate.cleanPlate = request.cleanPlate;
    return keying;
  }
  PreviewWorkspace workspace;
  workspace.processor().resampleToPreview(source);
  keying.classic = chooseSettings(workspace.previewSource(), request.classic);
  return keying;
}

void keyPicture(PictureSource& source, const Keying& keying, PictureSink& sink, int threads) {
  if (keying.keyer == KeyerKind::Classic) {
    keyPicture(source, keying.classic.channel, levelTable(keying.classic.contrast, keying.classic.offset), sink);
    return;
  }
  PlateRowKeyer keyer(keying.plate, source.width(), source.height(), threads);
  if (keyer.keysWholePictures()) {
    keyWholePicture(source, keyer, sink);
  } else {
    keyPicture(source, keyer, sink);
  }
}

void keyFrame(Pixel32* pixels, std::uint32_t width, std::uint32_t height, const Keying& keying, int threads) {
  if (keying.keyer == KeyerKind::Classic) {
    const KeySettings& s = keying.classic;
    keyAndLevel(pixels, std::size_t{width} * height, s.channel, levelTable(s.contrast, s.offset));
    return;
  }
  PlateRowKeyer keyer(keying.plate, width, height, threads);
  if (keyer.keysWholePictures()) {
    const std::vector<Pixel32> original(pixels, pixels + std::size_t{width} * height);
    keyer.keyWholePicture(original.data(), pixels, width, height);
  } else {
    keyer.keyWholePicture(pixels, pixels, width, height);
  }
}

}  // namespace Kvl
