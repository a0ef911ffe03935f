#include "BatchRunner.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include "Progress.h"
#include "SettingsFile.h"
#include "UsableCpus.h"

namespace Kvl::Cli {
namespace {

ProgressLine::Style styleOf(const BatchOptions& options) {
  if (!options.showProgress) return ProgressLine::Style::Off;
  return options.plainProgress ? ProgressLine::Style::Plain : ProgressLine::Style::Redrawn;
}

// Collects the outcomes from the workers and prints each file's lines as
// soon as every earlier file's lines are out.
class OrderedReport {
public:
  OrderedReport(const std::vector<FileJob>& jobs, const BatchOptions& options, std::ostream& out,
                std::ostream& err)
      : jobs_(jobs), options_(options), out_(out), err_(err), outcomes_(jobs.size()),
        progress_(err, jobs.size(), styleOf(options)) {}

  void finished(std::size_t index, FileOutcome outcome) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t pixels = outcome.pixelCount;
    outcomes_[index] = std::move(outcome);
    if (nextToPrint_ == index) {
      progress_.clear();
      while (nextToPrint_ < outcomes_.size() && outcomes_[nextToPrint_]) print(nextToPrint_++);
    }
    progress_.fileDone(pixels);
  }

  bool allSucceeded() {
    const std::lock_guard lock(mutex_);
    progress_.finish();
    return failures_ == 0;
  }

private:
  void print(std::size_t index) {
    const FileJob& job = jobs_[index];
    const FileOutcome& outcome = *outcomes_[index];
    if (!outcome.warning.empty()) err_ << "keyvale-cli: warning: " << job.input << ": " << outcome.warning << '\n';
    if (!outcome.ok) {
      ++failures_;
      err_ << "keyvale-cli: " << outcome.errorPath << ": " << outcome.error << '\n';
      return;
    }
    if (options_.nameEachLine) out_ << job.input << ": ";
    out_ << describeKeying(outcome.settings) << '\n' << std::flush;
  }

  const std::vector<FileJob>& jobs_;
  const BatchOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  std::mutex mutex_;
  std::vector<std::optional<FileOutcome>> outcomes_;
  std::size_t nextToPrint_ = 0;
  std::size_t failures_ = 0;
  ProgressLine progress_;
};

// Nothing may escape a worker thread: that would end the process.
FileOutcome keyFileCaught(const FileJob& job, const KeyingRequest& settings) {
  try {
    return keyFile(job, settings);
  } catch (const std::exception& error) {
    FileOutcome outcome;
    outcome.errorPath = job.input;
    outcome.error = std::string("unexpected failure: ") + error.what();
    return outcome;
  }
}

}  // namespace

int threadCountFor(int requested, std::size_t files) {
  std::size_t threads = requested > 0 ? static_cast<std::size_t>(requested)
                                          : static_cast<std::size_t>(usableCpuCount());
  threads = std::min(std::max<std::size_t>(threads, 1), std::max<std::size_t>(files, 1));
  return static_cast<int>(threads);
}

bool runBatch(const std::vector<FileJob>& jobs, const KeyingRequest& settings, const BatchOptions& options,
              std::ostream& out, std::ostream& err) {
  OrderedReport report(jobs, options, out, err);
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t index = next++; index < jobs.size(); index = next++) {
      report.finished(index, keyFileCaught(jobs[index], settings));
    }
  };
  std::vector<std::thread> helpers;
  const int threads = threadCountFor(options.jobs, jobs.size());
  for (int i = 1; i < threads; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for; the rest still gets done
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  return report.allSucceeded();
}

}  // namespace Kvl::Cli
