// A build without tinygltf: --gltf is named and refused.
#include "animation.h"

namespace monitor {

bool gltfAvailable(std::string& why)
{
    why = "this tavrin-monitor was built without tinygltf (apt-get install libtinygltf-dev, then build again)";
    return false;
}

bool gltfBytes(const Take&, bool, std::string&, std::string& error)
{
    gltfAvailable(error);
    return false;
}

} // namespace monitor
