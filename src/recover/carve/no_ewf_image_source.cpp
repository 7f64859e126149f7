// Builds without libewf: E01 images are recognised and refused.
#include "recover/carve/image_source.h"

namespace cellbrook {

bool ExpertWitnessSupported() { return false; }

std::unique_ptr<ImageSource> OpenExpertWitness(const std::string&, std::string& error) {
  error = "this build reads no E01 images (built without libewf)";
  return nullptr;
}

}  // namespace cellbrook
