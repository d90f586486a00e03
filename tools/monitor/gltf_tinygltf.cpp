// A take as glTF 2.0, built and written with tinygltf: one node per device under a node "root",
// one animation of a translation and a rotation channel per node, its times in seconds from the
// take's first instant, metres and Y up whatever the take's units.
#include "animation.h"

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NOEXCEPTION
#include <tiny_gltf.h>

#include <cstring>
#include <sstream>

namespace monitor {

namespace {

// Appends floats to the one buffer as an accessor of its own (with its own view); returns its index.
int addAccessor(tinygltf::Model& model, const std::vector<float>& values, int type, int width)
{
    std::vector<unsigned char>& data = model.buffers[0].data;
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = data.size();
    view.byteLength = values.size() * sizeof(float);
    data.resize(data.size() + view.byteLength);
    std::memcpy(data.data() + view.byteOffset, values.data(), view.byteLength);
    model.bufferViews.push_back(view);
    tinygltf::Accessor accessor;
    accessor.bufferView = static_cast<int>(model.bufferViews.size() - 1);
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.count = values.size() / static_cast<size_t>(width);
    accessor.type = type;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

void addChannel(tinygltf::Animation& animation, int input, int output, int node, const char* path)
{
    tinygltf::AnimationSampler sampler;
    sampler.input = input;
    sampler.output = output;
    sampler.interpolation = "LINEAR";
    animation.samplers.push_back(sampler);
    tinygltf::AnimationChannel channel;
    channel.sampler = static_cast<int>(animation.samplers.size() - 1);
    channel.target_node = node;
    channel.target_path = path;
    animation.channels.push_back(channel);
}

// The frames whose times, as the file's floats, rise strictly (a take of days could give two
// neighbours one float), with those times in seconds.
std::vector<size_t> keyFrames(const Take& take, std::vector<float>& seconds)
{
    std::vector<size_t> frames;
    for (size_t f = 0; f < take.times().size(); ++f) {
        const auto t = static_cast<float>(static_cast<double>(take.times()[f] - take.times()[0]) / 1e9);
        if (!seconds.empty() && !(t > seconds.back()))
            continue;
        seconds.push_back(t);
        frames.push_back(f);
    }
    return frames;
}

tinygltf::Model buildModel(const Take& take)
{
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = std::string("tavrin-monitor ") + TAVRIN_VERSION_STRING;
    tinygltf::Node root;
    root.name = "root";
    model.nodes.push_back(root);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    std::vector<float> seconds;
    const std::vector<size_t> frames = keyFrames(take, seconds);
    if (take.devices().empty() || frames.empty())
        return model;
    model.buffers.emplace_back();
    const int input = addAccessor(model, seconds, TINYGLTF_TYPE_SCALAR, 1);
    model.accessors[static_cast<size_t>(input)].minValues = {static_cast<double>(seconds.front())};
    model.accessors[static_cast<size_t>(input)].maxValues = {static_cast<double>(seconds.back())};
    tinygltf::Animation animation;
    animation.name = "take";
    const double metresPerUnit = 1.0 / static_cast<double>(take.unitsPerMetre());
    for (const AnimatedDevice& device : take.devices()) {
        std::vector<float> translation, rotation;
        translation.reserve(3 * frames.size());
        rotation.reserve(4 * frames.size());
        for (size_t f : frames) {
            const AnimationKey& key = device.keys[f];
            for (float p : key.position)
                translation.push_back(static_cast<float>(static_cast<double>(p) * metresPerUnit));
            const float* q = key.orientation; // glTF's quaternions are x y z w
            rotation.insert(rotation.end(), {q[1], q[2], q[3], q[0]});
        }
        tinygltf::Node node;
        node.name = device.name;
        node.translation.assign(translation.begin(), translation.begin() + 3);
        node.rotation.assign(rotation.begin(), rotation.begin() + 4);
        model.nodes.push_back(node);
        const int index = static_cast<int>(model.nodes.size() - 1);
        model.nodes[0].children.push_back(index);
        addChannel(animation, input, addAccessor(model, translation, TINYGLTF_TYPE_VEC3, 3), index, "translation");
        addChannel(animation, input, addAccessor(model, rotation, TINYGLTF_TYPE_VEC4, 4), index, "rotation");
    }
    model.buffers[0].name = "take";
    model.animations.push_back(animation);
    return model;
}

} // namespace

bool gltfAvailable(std::string&)
{
    return true;
}

bool gltfBytes(const Take& take, bool binary, std::string& out, std::string& error)
{
    const tinygltf::Model model = buildModel(take);
    tinygltf::TinyGLTF writer;
    std::ostringstream stream;
    if (!writer.WriteGltfSceneToStream(&model, stream, !binary, binary)) {
        error = "tinygltf could not write the glTF";
        return false;
    }
    out = stream.str();
    return true;
}

} // namespace monitor
