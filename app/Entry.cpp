#include "Entry.h"

#include <memory>
#include <new>

#include "Application.h"

namespace Kvl::App {
namespace {

// Owns the one Application for the life of the entry point.
class ApplicationHolder {
public:
  void clear() { application_.reset(); }
  // Makes the Application and runs its start-up.
  bool create() {
    application_.reset(new (std::nothrow) Application);
    return application_ != nullptr && application_->initialise();
  }
  void destroy() {
    if (application_ == nullptr) return;
    application_->shutdown();
    application_.reset();
  }

private:
  std::unique_ptr<Application> application_;
};

}  // namespace

int runApplication() {
  ApplicationHolder holder;
  holder.clear();
  if (holder.create()) runMessageLoop();  // how the loop ended changes nothing
  holder.destroy();
  return 0;
}

}  // namespace Kvl::App
