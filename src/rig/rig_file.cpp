#include "rig_file.h"

#include "roles.h"

#include "../names/names.h"

#include "../platform/platform.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace ViveSystem {

namespace {

using json = nlohmann::ordered_json; // keys in the order written: format and version first

// A float as the shortest decimal that reads back as the same float (0.05, not 0.0500000007).
double shortest(float v)
{
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(v));
        if (static_cast<float>(std::strtod(text, nullptr)) == v)
            break;
    }
    return std::strtod(text, nullptr);
}

json vector(const float* v, int n)
{
    json a = json::array();
    for (int i = 0; i < n; ++i)
        a.push_back(shortest(v[i]));
    return a;
}

// The JSON text, with each list of numbers on one line.
template <class Json>
std::string layOut(const Json& j)
{
    const std::string text = j.dump(2);
    std::string out;
    bool quoted = false; // inside a string, where a '[' is only text
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted || c == '"') {
            out += c;
            if (quoted && c == '\\' && i + 1 < text.size())
                out += text[++i];
            else if (c == '"')
                quoted = !quoted;
            continue;
        }
        const size_t close = c == '[' ? text.find(']', i) : std::string::npos;
        if (close == std::string::npos || text.find_first_not_of("0123456789+-.eE, \n", i + 1) < close) {
            out += c;
            continue;
        }
        std::string items;
        for (size_t k = i + 1; k < close; ++k)
            if (text[k] != ' ' && text[k] != '\n')
                items += text[k] == ',' ? ", " : std::string(1, text[k]);
        out += "[" + items + "]";
        i = close;
    }
    return out + "\n";
}

// Whether a serial is UTF-8 text, as JSON strings must be (the runtime may send any bytes): as the
// JSON library's own writer judges it.
bool isUtf8(const std::string& text)
{
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

const char* const kHex = "0123456789ABCDEF";

std::string hexOf(const std::string& bytes)
{
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

// The bytes of a "serial_hex"; false for text that is not pairs of hexadecimal digits.
bool bytesOf(const std::string& hex, std::string& out)
{
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const char* hi = std::strchr(kHex, std::toupper(static_cast<unsigned char>(hex[i])));
        const char* lo = std::strchr(kHex, std::toupper(static_cast<unsigned char>(hex[i + 1])));
        if (hex[i] == '\0' || hex[i + 1] == '\0' || hi == nullptr || lo == nullptr)
            return false;
        out += static_cast<char>(((hi - kHex) << 4) | (lo - kHex));
    }
    return true;
}

// A device's key in the file: its serial, or for one that is not UTF-8 a readable stand-in (each
// byte outside ASCII as '?', then its bytes in hexadecimal) with the bytes in "serial_hex".
std::string keyOf(const std::string& serial)
{
    if (isUtf8(serial))
        return serial;
    std::string shown;
    for (const char c : serial)
        shown += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return shown + " (bytes " + hexOf(serial) + ")";
}

// Merges kept keys (a JSON object's text) into an object, after the keys it already holds.
template <class Json>
void keep(Json& into, const std::string& extra)
{
    if (extra.empty())
        return;
    const nlohmann::json kept = nlohmann::json::parse(extra);
    for (const auto& [key, value] : kept.items())
        if (!into.contains(key))
            into[key] = value;
}

json filterJson(const FilterParams& f)
{
    return {{"min_cutoff_hz", shortest(f.minCutoffHz)},
            {"beta", shortest(f.beta)},
            {"derivative_cutoff_hz", shortest(f.derivativeCutoffHz)}};
}

bool isNone(const FilterParams& f)
{
    return f.minCutoffHz == 0 && f.beta == 0 && f.derivativeCutoffHz == 0;
}

// The devices object: keys in byte order, built in one pass (a large rig saves in linear time).
nlohmann::json devicesJson(const RigSettings& rig)
{
    std::map<std::string, nlohmann::json> entries;
    for (const auto& [serial, role] : rig.roles)
        entries[serial]["role"] = names::roleName(role);
    for (const auto& [serial, offset] : rig.offsets)
        entries[serial]["offset"] = {{"position", vector(offset.position, 3)}, {"orientation", vector(offset.orientation, 4)}};
    for (const auto& [serial, filter] : rig.filters)
        entries[serial]["filter"] = filterJson(filter);
    for (const auto& [serial, extra] : rig.extraDevices)
        keep(entries[serial], extra);
    nlohmann::json devices = nlohmann::json::object();
    for (auto& [serial, entry] : entries) {
        if (!isUtf8(serial))
            entry["serial_hex"] = hexOf(serial);
        devices[keyOf(serial)] = std::move(entry);
    }
    return devices;
}

// The file's text: format and version first, then the space, the devices and whatever else the
// file held.
std::string textOf(const RigSettings& rig)
{
    json space = {{"position", vector(rig.space.position, 3)},
                  {"orientation", vector(rig.space.orientation, 4)},
                  {"axes", names::axesName(rig.space.axes)},
                  {"units_per_metre", shortest(rig.space.unitsPerMetre)}};
    keep(space, rig.extraSpace);
    json top{{"format", "tavrin-rig"}, {"version", 1}, {"space", space}, {"devices", json::object()}};
    if (!isNone(rig.filter))
        top["filter"] = filterJson(rig.filter);
    std::string text = layOut(top);
    if (!rig.extraTop.empty()) {
        // Kept keys follow, laid out apart for the same reason as the devices.
        const std::string extra = layOut(nlohmann::json::parse(rig.extraTop));
        if (extra.size() > 4) // "{\n" ... "\n}\n"
            text.replace(text.size() - 3, 3, ",\n" + extra.substr(2, extra.size() - 5) + "\n}\n");
    }
    // The devices are laid in apart: an ordered object looks each key up in a list.
    std::string devices = layOut(devicesJson(rig));
    devices.pop_back(); // its newline
    std::string indented;
    for (const char c : devices)
        indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
    const std::string slot = "\n  \"devices\": {}";
    const size_t at = text.find(slot);
    text.replace(at + slot.size() - 2, 2, indented);
    return text;
}

// A file's bytes, at most kMaxRigFile of them: false when it cannot be read or is larger (then
// `out` holds more than kMaxRigFile bytes).
bool readWhole(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.clear();
    char chunk[65536];
    while (out.size() <= kMaxRigFile && in.read(chunk, sizeof chunk).gcount() > 0)
        out.append(chunk, static_cast<size_t>(in.gcount()));
    return in.eof() && out.size() <= kMaxRigFile;
}

bool isRegularFile(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// A refusal of a file's content, with where it was found.
struct BadFile {
    std::string what;  // what is wrong
    std::string where; // a key near it, whose line is looked up in the text
};

// The line of the first occurrence of "key" (quoted, as JSON writes it); 0 when not found.
size_t lineOf(const std::string& text, const std::string& key)
{
    const size_t at = text.find(nlohmann::json(key).dump());
    if (at == std::string::npos)
        return 0;
    return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

void numbers(const nlohmann::json& j, const char* name, float* out, int n, const std::string& where)
{
    if (!j.is_array() || j.size() != static_cast<size_t>(n))
        throw BadFile{std::string(name) + " is not a list of " + std::to_string(n) + " numbers", where};
    for (int i = 0; i < n; ++i) {
        if (!j[static_cast<size_t>(i)].is_number())
            throw BadFile{std::string(name) + " holds something that is not a number", where};
        out[i] = j[static_cast<size_t>(i)].get<float>();
        if (!std::isfinite(out[i]))
            throw BadFile{std::string(name) + " holds a number out of range", where};
    }
}

UserSpace readSpace(const nlohmann::json& j)
{
    if (!j.is_object())
        throw BadFile{"\"space\" is not an object", "space"};
    UserSpace s = defaultSpace();
    if (j.contains("position"))
        numbers(j["position"], "the space's position", s.position, 3, "space");
    if (j.contains("orientation"))
        numbers(j["orientation"], "the space's orientation", s.orientation, 4, "space");
    if (j.contains("axes")) {
        s.axes = j["axes"].is_string() ? names::axesFromName(j["axes"].get<std::string>()) : -1;
        if (s.axes < 0)
            throw BadFile{"the space's axes are none of \"openvr\", \"z_up\", \"unity\", \"unreal\"", "axes"};
    }
    if (j.contains("units_per_metre")) {
        if (!j["units_per_metre"].is_number())
            throw BadFile{"units_per_metre is not a number", "units_per_metre"};
        s.unitsPerMetre = j["units_per_metre"].get<float>();
    }
    if (!checkSpace(s))
        throw BadFile{"the space is not one (units_per_metre must be above 0, the orientation of some length)",
                      "space"};
    return s;
}

// The keys of an object that the loader does not read, as a JSON object's text ("" for none).
// "filter": {"min_cutoff_hz": .., "beta": .., "derivative_cutoff_hz": ..}, each a number of at least 0.
FilterParams readFilter(const nlohmann::json& j, const std::string& what, const std::string& where)
{
    const char* const keys[] = {"min_cutoff_hz", "beta", "derivative_cutoff_hz"};
    if (!j.is_object())
        throw BadFile{"the filter of " + what + " is not an object", where};
    float v[3];
    for (int i = 0; i < 3; ++i) {
        if (!j.contains(keys[i]) || !j[keys[i]].is_number())
            throw BadFile{"the filter of " + what + " has no number " + keys[i], where};
        v[i] = j[keys[i]].get<float>();
    }
    const FilterParams f{v[0], v[1], v[2]};
    if (!checkFilter(f))
        throw BadFile{"the filter of " + what + " has a number that is not finite or is below 0", where};
    return f;
}

std::string unknownKeys(const nlohmann::json& j, std::initializer_list<const char*> known)
{
    nlohmann::json extra = nlohmann::json::object();
    for (const auto& [key, value] : j.items())
        if (std::none_of(known.begin(), known.end(), [&key = key](const char* k) { return key == k; }))
            extra[key] = value;
    return extra.empty() ? std::string() : extra.dump();
}

std::string roleNames()
{
    std::string names;
    for (int32_t r = 0; names::roleName(r) != nullptr; ++r)
        names += std::string(names.empty() ? "" : ", ") + names::roleName(r);
    return names;
}

// One device of the file. `holders` is who holds each role so far (one lookup a device).
void readDevice(const std::string& key, const nlohmann::json& j, RigSettings& rig, std::map<int32_t, std::string>& holders)
{
    if (!j.is_object())
        throw BadFile{"the device " + key + " is not an object", key};
    std::string serial = key;
    if (j.contains("serial_hex") && (!j["serial_hex"].is_string() || !bytesOf(j["serial_hex"].get<std::string>(), serial)))
        throw BadFile{"the serial_hex of " + key + " is not pairs of hexadecimal digits", key};
    if (!validSerial(serial.c_str()) || serial.size() != std::strlen(serial.c_str()))
        throw BadFile{"the serial \"" + key.substr(0, 80) + "\" is not 1 to 63 bytes", key};
    if (j.contains("role")) {
        const nlohmann::json& value = j["role"];
        const int32_t role = value.is_string() ? names::roleFromName(value.get<std::string>().c_str()) : -1;
        if (role < 0)
            throw BadFile{"the role of " + key + " is " + value.dump() + ", not one of " + roleNames(), key};
        if (role != kRoleProp && role != kRoleNone) {
            const auto [held, fresh] = holders.emplace(role, key);
            if (!fresh)
                throw BadFile{"the role " + std::string(names::roleName(role)) + " is given to " + held->second + " and " + key,
                              key};
        }
        if (role != kRoleNone)
            rig.roles[serial] = role;
    }
    if (j.contains("offset")) {
        const nlohmann::json& o = j["offset"];
        if (!o.is_object())
            throw BadFile{"the offset of " + key + " is not an object", key};
        DeviceOffset offset{{0, 0, 0}, {1, 0, 0, 0}};
        if (o.contains("position"))
            numbers(o["position"], "the offset's position", offset.position, 3, key);
        if (o.contains("orientation"))
            numbers(o["orientation"], "the offset's orientation", offset.orientation, 4, key);
        if (!checkOffset(offset))
            throw BadFile{"the offset's orientation of " + key + " has no length", key};
        rig.offsets[serial] = offset;
    }
    if (j.contains("filter"))
        rig.filters[serial] = readFilter(j["filter"], key, key);
    std::string extra = unknownKeys(j, {"role", "offset", "filter", "serial_hex"});
    if (!extra.empty())
        rig.extraDevices[serial] = std::move(extra);
}

RigSettings fromJson(const nlohmann::json& j)
{
    if (!j.is_object() || !j.contains("format") || j["format"] != "tavrin-rig")
        throw BadFile{"it is not a rig file: \"format\" is not \"tavrin-rig\"", "format"};
    if (!j.contains("version") || j["version"] != 1)
        throw BadFile{"its version is not 1", "version"};
    RigSettings rig;
    if (j.contains("space")) {
        rig.space = readSpace(j["space"]);
        rig.extraSpace = unknownKeys(j["space"], {"position", "orientation", "axes", "units_per_metre"});
    }
    if (j.contains("devices")) {
        if (!j["devices"].is_object())
            throw BadFile{"\"devices\" is not an object", "devices"};
        std::map<int32_t, std::string> holders;
        for (const auto& [key, device] : j["devices"].items())
            readDevice(key, device, rig, holders);
    }
    if (j.contains("filter"))
        rig.filter = readFilter(j["filter"], "every device", "filter");
    rig.extraTop = unknownKeys(j, {"format", "version", "space", "devices", "filter"});
    return rig;
}

} // namespace

bool saveRigFile(const RigSettings& rig, const std::string& path, std::string& error)
{
    std::string why;
    try {
        const std::string text = textOf(rig);
        std::string held;
        if (isRegularFile(path) && readWhole(path, held) && held == text)
            return true; // it holds this rig already: left as it is
        if (platform::replaceFile(path, text, why))
            return true;
    } catch (const std::exception& e) {
        why = e.what();
    }
    error = "cannot save the rig file " + path + ": " + why;
    return false;
}

bool loadRigFile(const std::string& path, RigSettings& out, std::string& error)
{
    std::string content;
    if (!readWhole(path, content)) {
        error = content.size() > kMaxRigFile ? "the rig file " + path + " is larger than " + std::to_string(kMaxRigFile >> 20) + " MiB"
                                            : "cannot read the rig file " + path;
        return false;
    }
    try {
        out = fromJson(nlohmann::json::parse(content));
        return true;
    } catch (const nlohmann::json::parse_error& e) {
        // nlohmann's message names the line and the column: "parse error at line 3, column 7: ...".
        const std::string message = e.what();
        const size_t at = message.find("parse error");
        error = "the rig file " + path + " is not JSON: " + (at == std::string::npos ? message : message.substr(at));
    } catch (const BadFile& bad) {
        const size_t line = lineOf(content, bad.where);
        error = "the rig file " + path + (line ? ", line " + std::to_string(line) : std::string()) + ": " + bad.what;
    } catch (const std::exception& e) {
        error = "the rig file " + path + " cannot be read: " + e.what();
    }
    return false;
}

} // namespace ViveSystem
