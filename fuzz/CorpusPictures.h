#pragma once
// PNG and JPEG seeds for the command line's picture input, written with the
// same libraries the reader uses (where this build has them).

#include <filesystem>

namespace Kvl::Fuzz {

// Writes the seeds into `folder` and returns how many it wrote (0 when the
// build has neither library).
int writePictureSeeds(const std::filesystem::path& folder);

}  // namespace Kvl::Fuzz
