#include "Keying.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <semaphore>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/Key.h"
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
    for (std::size_t part = 1; part < keyers_.size(); ++part) helpers_.push_back(std::make_unique<Helper>());
    for (std::size_t part = 1; part < keyers_.size(); ++part) {
      Helper& helper = *helpers_[part - 1];
      try {
        helper.thread = std::thread([this, &helper, part] { serve(helper, keyers_[part]); });
      } catch (const std::system_error&) {
        helpers_.resize(part - 1);  // no more threads to be had: key with those there are
        break;
      }
    }
  }

  ~PlateRowKeyer() override {
    for (const std::unique_ptr<Helper>& helper : helpers_) {
      helper->stop = true;
      helper->start.release();
      helper->thread.join();
    }
  }

  PlateRowKeyer(const PlateRowKeyer&) = delete;
  PlateRowKeyer& operator=(const PlateRowKeyer&) = delete;

  void startRows(const RowJob* rows, std::size_t count) override {
    rows_ = rows;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    // A thread is worth waking for some thousands of pixels at least.
    woken_ = std::min(helpers_.size(), count / 8);
    for (std::size_t i = 0; i < woken_; ++i) helpers_[i]->start.release();
  }

  void finishRows() override {
    keyClaimedRows(keyers_[0]);
    for (std::size_t i = 0; i < woken_; ++i) helpers_[i]->done.acquire();
    woken_ = 0;
  }

  void keyRows(const RowJob* rows, std::size_t count) {
    startRows(rows, count);
    finishRows();
  }

private:
  // A helper thread is woken by `start` to key rows of the chunk started,
  // and releases `done` when none are left.
  struct Helper {
    std::binary_semaphore start{0};
    std::binary_semaphore done{0};
    bool stop = false;
    std::thread thread;
  };

  void serve(Helper& helper, PlateKeyer& keyer) {
    for (;;) {
      helper.start.acquire();
      if (helper.stop) return;
      keyClaimedRows(keyer);
      helper.done.release();
    }
  }

  void keyClaimedRows(PlateKeyer& keyer) {
    constexpr std::size_t RowsPerClaim = 2;
    for (;;) {
      const std::size_t first = next_.fetch_add(RowsPerClaim, std::memory_order_relaxed);
      if (first >= count_) return;
      const std::size_t last = std::min(first + RowsPerClaim, count_);
      for (std::size_t i = first; i < last; ++i) keyer.keyRow(rows_[i].in, rows_[i].out, rows_[i].topRow);
    }
  }

  std::vector<PlateKeyer> keyers_;
  std::vector<std::unique_ptr<Helper>> helpers_;
  const RowJob* rows_ = nullptr;  // the chunk started
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};  // its first row not yet claimed
  std::size_t woken_ = 0;             // the helpers working on it
};

// Reads the rows the survey wants, skipping the others, in the source's order.
PlateSettings surveyPlate(PictureSource& source, const SettingsRequest& request) {
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
  return fitPlate(survey, {request.channel, request.autoAdjust, source.colourQuantisation()});
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

Keying chooseKeying(PictureSource& source, const KeyingRequest& request) {
  Keying keying = givenKeying(request);
  if (!request.choosesFromPicture()) return keying;
  if (request.keyer == KeyerKind::Plate) {
    keying.plate = surveyPlate(source, request.classic);
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
  keyPicture(source, keyer, sink);
}

void keyFrame(Pixel32* pixels, std::uint32_t width, std::uint32_t height, const Keying& keying, int threads) {
  if (keying.keyer == KeyerKind::Classic) {
    const KeySettings& s = keying.classic;
    keyAndLevel(pixels, std::size_t{width} * height, s.channel, levelTable(s.contrast, s.offset));
    return;
  }
  std::vector<RowJob> rows(height);
  for (std::uint32_t y = 0; y < height; ++y) {
    Pixel32* row = pixels + std::size_t{y} * width;
    rows[y] = {row, row, y};
  }
  PlateRowKeyer(keying.plate, width, height, threads).keyRows(rows.data(), rows.size());
}

}  // namespace Kvl
