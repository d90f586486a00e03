// The rig file's load and save through the C functions, for 10,000 to 40,000 devices and for as
// many keys the loader does not read. Targets: 40,000 devices load in well under a second, and
// the time grows linearly (four times the devices, at most about four to five times the time).
#include <tavrin.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

double secondsOf(const std::string& what, const std::string& path, tavrin_source* source, bool save)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto begin = std::chrono::steady_clock::now();
        const int32_t done = save ? tavrin_source_save_rig(source, path.c_str()) : tavrin_source_load_rig(source, path.c_str());
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (done != ViveSystem::DeviceError_None) {
            std::fprintf(stderr, "%s failed: %s\n", what.c_str(), tavrin_source_rig_error(source));
            return -1;
        }
        best = std::min(best, s);
    }
    return best;
}

std::string devicesFile(int devices)
{
    std::string text = "{\"format\": \"tavrin-rig\", \"version\": 1, \"devices\": {";
    for (int i = 0; i < devices; ++i) {
        char entry[160];
        std::snprintf(entry, sizeof entry,
                      "%s\"LHR-%08d\": {\"role\": \"prop\", \"offset\": {\"position\": [0, 0.1, 0], \"orientation\": [1, 0, 0, 0]}}",
                      i ? ", " : "", i);
        text += entry;
    }
    return text + "}}\n";
}

std::string unknownKeysFile(int keys)
{
    std::string text = "{\"format\": \"tavrin-rig\", \"version\": 1";
    for (int i = 0; i < keys; ++i)
        text += ", \"note" + std::to_string(i) + "\": " + std::to_string(i);
    return text + "}\n";
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : ".";
    tavrin_source* source = tavrin_source_create(0.0);
    if (source == nullptr)
        return 1;
    std::printf("rig file, best of 3\n");
    double first = 0, last = 0;
    for (int n : {10000, 20000, 40000}) {
        const std::string path = dir + "/bench-rig-" + std::to_string(n) + ".json", out = path + ".saved";
        std::ofstream(path) << devicesFile(n);
        const double load = secondsOf("load", path, source, false);
        const double save = secondsOf("save", out, source, true);
        std::printf("%6d devices     load %7.3f s  save %7.3f s\n", n, load, save);
        (n == 10000 ? first : last) = load;
        std::remove(path.c_str());
        std::remove(out.c_str());
    }
    const std::string keys = dir + "/bench-rig-keys.json", keysOut = keys + ".saved";
    std::ofstream(keys) << unknownKeysFile(40000);
    const double keysLoad = secondsOf("load", keys, source, false);
    const double keysSave = secondsOf("save", keysOut, source, true);
    std::printf("%6d unknown keys load %7.3f s  save %7.3f s (kept)\n", 40000, keysLoad, keysSave);
    std::remove(keys.c_str());
    std::remove(keysOut.c_str());
    tavrin_source_destroy(source);
    const bool met = last > 0 && last < 1.0 && last / std::max(first, 1e-6) < 6.0;
    std::printf("target (40,000 devices under 1 s, growing linearly: %.1fx for 4x): %s\n", last / std::max(first, 1e-6),
                met ? "met" : "NOT met");
    return 0;
}
