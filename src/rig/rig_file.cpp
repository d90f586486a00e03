#include "rig_file.h"

#include "roles.h"

#include "../recording/names.h"

#include "../platform/platform.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ViveSystem {

namespace {

using json = nlohmann::ordered_json; // keys in the order written: format and version first

const char* const kAxesNames[4] = {"openvr", "z_up", "unity", "unreal"};

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
std::string layOut(const json& j)
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

json toJson(const RigSettings& rig)
{
    json space = {{"position", vector(rig.space.position, 3)},
                  {"orientation", vector(rig.space.orientation, 4)},
                  {"axes", axesName(rig.space.axes)},
                  {"units_per_metre", shortest(rig.space.unitsPerMetre)}};
    json devices = json::object();
    for (const auto& [serial, role] : rig.roles)
        devices[serial]["role"] = recording::roleName(role);
    for (const auto& [serial, offset] : rig.offsets)
        devices[serial]["offset"] = {{"position", vector(offset.position, 3)},
                                     {"orientation", vector(offset.orientation, 4)}};
    return json{{"format", "tavrin-rig"}, {"version", 1}, {"space", space}, {"devices", devices}};
}

// A refusal of a file's content, with where it was found.
struct BadFile {
    std::string what;  // what is wrong
    std::string where; // a key near it, whose line is looked up in the text
};

// The line of the first occurrence of "key" (quoted, as JSON writes it); 0 when not found.
size_t lineOf(const std::string& text, const std::string& key)
{
    const size_t at = text.find(json(key).dump());
    if (at == std::string::npos)
        return 0;
    return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

void numbers(const json& j, const char* name, float* out, int n, const std::string& where)
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

UserSpace readSpace(const json& j)
{
    if (!j.is_object())
        throw BadFile{"\"space\" is not an object", "space"};
    UserSpace s = defaultSpace();
    if (j.contains("position"))
        numbers(j["position"], "the space's position", s.position, 3, "space");
    if (j.contains("orientation"))
        numbers(j["orientation"], "the space's orientation", s.orientation, 4, "space");
    if (j.contains("axes")) {
        s.axes = j["axes"].is_string() ? axesFromName(j["axes"].get<std::string>()) : -1;
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

void readDevice(const std::string& serial, const json& j, RigSettings& rig)
{
    if (!validSerial(serial.c_str()) || serial.size() != std::strlen(serial.c_str()))
        throw BadFile{"the serial \"" + serial.substr(0, 80) + "\" is not 1 to 63 characters", serial};
    if (!j.is_object())
        throw BadFile{"the device " + serial + " is not an object", serial};
    if (j.contains("role")) {
        const int32_t role = j["role"].is_string() ? recording::roleFromName(j["role"].get<std::string>().c_str()) : -1;
        if (role < 0)
            throw BadFile{"the role of " + serial + " is not a role's name", serial};
        for (const auto& [other, held] : rig.roles)
            if (role != kRoleProp && role != kRoleNone && held == role)
                throw BadFile{"the role " + std::string(recording::roleName(role)) + " is given to " + other + " and " + serial,
                              serial};
        if (role != kRoleNone)
            rig.roles[serial] = role;
    }
    if (j.contains("offset")) {
        const json& o = j["offset"];
        if (!o.is_object())
            throw BadFile{"the offset of " + serial + " is not an object", serial};
        DeviceOffset offset{{0, 0, 0}, {1, 0, 0, 0}};
        if (o.contains("position"))
            numbers(o["position"], "the offset's position", offset.position, 3, serial);
        if (o.contains("orientation"))
            numbers(o["orientation"], "the offset's orientation", offset.orientation, 4, serial);
        if (!checkOffset(offset))
            throw BadFile{"the offset's orientation of " + serial + " has no length", serial};
        rig.offsets[serial] = offset;
    }
}

RigSettings fromJson(const json& j)
{
    if (!j.is_object() || !j.contains("format") || j["format"] != "tavrin-rig")
        throw BadFile{"it is not a rig file: \"format\" is not \"tavrin-rig\"", "format"};
    if (!j.contains("version") || j["version"] != 1)
        throw BadFile{"its version is not 1", "version"};
    RigSettings rig;
    if (j.contains("space"))
        rig.space = readSpace(j["space"]);
    if (j.contains("devices")) {
        if (!j["devices"].is_object())
            throw BadFile{"\"devices\" is not an object", "devices"};
        for (const auto& [serial, device] : j["devices"].items())
            readDevice(serial, device, rig);
    }
    return rig;
}

} // namespace

const char* axesName(int32_t axes)
{
    return axes >= 0 && axes < 4 ? kAxesNames[axes] : "openvr";
}

int32_t axesFromName(const std::string& name)
{
    for (int32_t a = 0; a < 4; ++a)
        if (name == kAxesNames[a])
            return a;
    return -1;
}

bool saveRigFile(const RigSettings& rig, const std::string& path, std::string& error)
{
    std::string why;
    if (platform::replaceFile(path, layOut(toJson(rig)), why))
        return true;
    error = "cannot save the rig file " + path + ": " + why;
    return false;
}

bool loadRigFile(const std::string& path, RigSettings& out, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        error = "cannot read the rig file " + path;
        return false;
    }
    const std::string content = text.str();
    try {
        out = fromJson(json::parse(content));
        return true;
    } catch (const json::parse_error& e) {
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
