// tavrin-monitor's parts: options, figures, the CSV and SVG writers, the VMC poses, the animations.
#include <animation.h>
#include <display.h>
#include <figures.h>
#include <options.h>
#include <vmc.h>
#include <writers.h>

#include <recording/recording_format.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <set>
#include <vector>

#ifndef _WIN32
#  include <fcntl.h>
#  include <sys/resource.h>
#  include <sys/stat.h>
#  include <unistd.h>

#  include <csignal>
#  include <cstdlib>
#  include <iterator>
#endif

using namespace monitor;

namespace {

ParseResult parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "tavrin-monitor");
    return parseOptions(static_cast<int>(args.size()), args.data());
}

bool exists(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tempPath(const char* name)
{
    return ::testing::TempDir() + name;
}

tavrin_device device(const char* serial, uint32_t index, int cls, float x, float y, float z)
{
    tavrin_device d;
    std::memset(&d, 0, sizeof d);
    std::snprintf(d.serial, sizeof d.serial, "%s", serial);
    d.index = index;
    d.device_class = cls;
    d.tracking_result = 200;
    d.connected = 1;
    d.pose_valid = 1;
    d.position[0] = x;
    d.position[1] = y;
    d.position[2] = z;
    const float q[4] = {0.9238795f, 0.1f, 0.3826834f, -0.2f};
    std::memcpy(d.orientation, q, sizeof q);
    d.velocity[0] = 0.1f;
    d.velocity[2] = -1.0f / 3.0f;
    d.angular_velocity[1] = 3.14159274f;
    return d;
}

std::vector<std::string> split(const std::string& line, char sep)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

// A small XML well-formedness check: balanced, properly nested elements, quoted attributes, no
// raw '<' or '&' outside markup and entity references.
bool wellFormedXml(const std::string& x, std::string& why)
{
    std::vector<std::string> stack;
    size_t i = 0;
    auto entityOk = [&](size_t at) {
        for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
            if (x.compare(at, std::strlen(e), e) == 0)
                return true;
        return false;
    };
    bool rootSeen = false;
    while (i < x.size()) {
        if (x[i] == '&') {
            if (!entityOk(i))
                return why = "bad entity at " + std::to_string(i), false;
            ++i;
            continue;
        }
        if (x[i] != '<') {
            ++i;
            continue;
        }
        if (x.compare(i, 2, "<?") == 0) {
            const size_t end = x.find("?>", i);
            if (end == std::string::npos)
                return why = "unterminated declaration", false;
            i = end + 2;
            continue;
        }
        const bool closing = x.compare(i, 2, "</") == 0;
        size_t j = i + (closing ? 2 : 1);
        std::string name;
        while (j < x.size() && (std::isalnum(static_cast<unsigned char>(x[j])) || x[j] == '-' || x[j] == ':'))
            name += x[j++];
        if (name.empty())
            return why = "empty tag name at " + std::to_string(i), false;
        bool selfClosing = false;
        while (j < x.size() && x[j] != '>') {
            if (x[j] == '\'' || x[j] == '"') {
                const char q = x[j];
                const size_t end = x.find(q, j + 1);
                if (end == std::string::npos)
                    return why = "unterminated attribute", false;
                for (size_t k = j + 1; k < end; ++k)
                    if (x[k] == '<' || (x[k] == '&' && !entityOk(k)))
                        return why = "raw markup in attribute at " + std::to_string(k), false;
                j = end + 1;
                continue;
            }
            if (x[j] == '/' && j + 1 < x.size() && x[j + 1] == '>')
                selfClosing = true;
            else if (x[j] == '<')
                return why = "'<' inside a tag at " + std::to_string(j), false;
            ++j;
        }
        if (j >= x.size())
            return why = "unterminated tag", false;
        if (closing) {
            if (stack.empty() || stack.back() != name)
                return why = "mismatched </" + name + ">", false;
            stack.pop_back();
        } else if (!selfClosing) {
            if (stack.empty() && rootSeen)
                return why = "second root element", false;
            stack.push_back(name);
            rootSeen = true;
        }
        i = j + 1;
    }
    if (!stack.empty())
        return why = "unclosed <" + stack.back() + ">", false;
    return rootSeen || (why = "no root element", false);
}

} // namespace

TEST(MonitorOptions, DefaultsAndValues)
{
    const ParseResult none = parse({});
    EXPECT_TRUE(none.error.empty());
    EXPECT_EQ(none.options.rate, 120u);
    EXPECT_FALSE(none.options.seconds.has_value());
    EXPECT_TRUE(none.options.demo);

    const ParseResult all = parse({"--rate", "500", "--seconds", "2.5", "--csv", "a.csv", "--plot", "b.svg", "--no-demo"});
    ASSERT_TRUE(all.error.empty()) << all.error;
    EXPECT_EQ(all.options.rate, 500u);
    EXPECT_EQ(*all.options.seconds, 2.5);
    EXPECT_EQ(all.options.csvPath, "a.csv");
    EXPECT_EQ(all.options.plotPath, "b.svg");
    EXPECT_FALSE(all.options.demo);
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"--seconds", "0"}).error.empty());
    EXPECT_TRUE(parse({"--version"}).options.version);

    const ParseResult inlined = parse({"--rate=250", "--seconds=1.5", "--csv=-"});
    ASSERT_TRUE(inlined.error.empty()) << inlined.error;
    EXPECT_EQ(inlined.options.rate, 250u);
    EXPECT_EQ(*inlined.options.seconds, 1.5);
    EXPECT_EQ(inlined.options.csvPath, "-");
    EXPECT_FALSE(parse({"--help=yes"}).error.empty());
    EXPECT_FALSE(parse({"--rate="}).error.empty());

    const ParseResult space = parse({"--axes", "unity", "--units=cm"});
    ASSERT_TRUE(space.error.empty()) << space.error;
    EXPECT_EQ(space.options.axes, 2);
    EXPECT_EQ(space.options.unitsPerMetre, 100.0);
    EXPECT_EQ(parse({"--units", "25.4"}).options.unitsPerMetre, 25.4);
    EXPECT_FALSE(parse({"--axes", "y_up"}).error.empty());
    EXPECT_FALSE(parse({"--units", "-1"}).error.empty());

    const ParseResult osc = parse({"--osc", "39539", "--osc=192.168.1.20:9000", "--osc-rate", "30"});
    ASSERT_TRUE(osc.error.empty()) << osc.error;
    ASSERT_EQ(osc.options.osc.size(), 2u);
    EXPECT_EQ(osc.options.osc[0].host, "127.0.0.1");
    EXPECT_EQ(osc.options.osc[0].port, 39539);
    EXPECT_EQ(osc.options.osc[1].host, "192.168.1.20");
    EXPECT_EQ(osc.options.oscRate, 30.0);
    EXPECT_EQ(parse({}).options.oscRate, 60.0);
}

TEST(MonitorOptions, BadInputIsNamed)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--rate", "0"},      {"--rate", "abc"},   {"--rate", "-5"},       {"--rate", "12x"}, {"--rate"},
        {"--seconds", "-1"},  {"--seconds", "x"},  {"--seconds", "nan"},   {"--frobnicate"},  {"extra"},
        {"--seconds", "9.3e9"}, {"--spin-us", "-2"}, {"--role", "=waist"}, {"--role", "LHR-A=tail"},
        {"--csv"},            {"--csv", "same", "--plot", "same"},
        {"--osc", "0"},       {"--osc", "host:"},  {"--osc", "70000"},     {"--osc-rate", "0"},
        {"--osc"},
    };
    for (const auto& args : bad) {
        const ParseResult r = parse(args);
        EXPECT_FALSE(r.error.empty()) << args[0];
    }
    EXPECT_NE(parse({"--rate", "0"}).error.find("--rate"), std::string::npos);
    EXPECT_NE(parse({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
}

TEST(MonitorFigures, OrientationSpeedAndPercentiles)
{
    const float identity[4] = {1, 0, 0, 0};
    Euler e = yawPitchRoll(identity);
    EXPECT_NEAR(e.yaw, 0, 1e-9);
    EXPECT_NEAR(e.pitch, 0, 1e-9);
    EXPECT_NEAR(e.roll, 0, 1e-9);
    const float s = std::sqrt(0.5f);
    const float yaw90[4] = {s, 0, s, 0}; // 90 degrees about +y
    EXPECT_NEAR(yawPitchRoll(yaw90).yaw, 90.0, 1e-4);
    const float pitch30[4] = {std::cos(0.2617994f), std::sin(0.2617994f), 0, 0};
    EXPECT_NEAR(yawPitchRoll(pitch30).pitch, 30.0, 1e-4);
    const float roll45[4] = {std::cos(0.3926991f), 0, 0, std::sin(0.3926991f)};
    e = yawPitchRoll(roll45);
    EXPECT_NEAR(e.roll, 45.0, 1e-4);
    EXPECT_NEAR(e.yaw, 0.0, 1e-4);

    const float v[3] = {3, 0, -4};
    EXPECT_DOUBLE_EQ(speed(v), 5.0);
    EXPECT_EQ(percentile({}, 0.5), 0.0);
    EXPECT_EQ(percentile({5, 1, 3}, 0.5), 3.0);
    EXPECT_EQ(percentile({5, 1, 3}, 1.0), 5.0);
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i)
        hundred.push_back(i);
    EXPECT_EQ(percentile(hundred, 0.99), 99.0);
}

TEST(MonitorCsv, OneRowPerDeviceWithValuesThatRoundTrip)
{
    const std::string path = tempPath("tavrin_monitor_test.csv");
    std::remove(path.c_str());
    CsvWriter csv;
    std::string error;
    ASSERT_TRUE(csv.open(path, error, true)) << error;
    EXPECT_FALSE(exists(path)) << "nothing under the name until the run is complete";
    static tavrin_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.frame_number = 41;
    frame.time_ns = 123456789012345;
    frame.unix_time_ns = 1765000000123456789;
    frame.device_count = 2;
    frame.devices[0] = device("LHR-A", 0, 1, 0.1f, 1.7f, -0.3f);
    frame.devices[1] = device("ODD,SERIAL\"X", 40, 4, 1e-7f, 2.0f, 123.456f);
    frame.devices[1].connected = 0;
    frame.devices[1].tracking_result = 101;
    frame.devices[0].role = TAVRIN_ROLE_HEAD;
    csv.write(1, frame, 1234.5);
    frame.frame_number = 42;
    csv.write(2, frame, 1242.9);
    tavrin_event e;
    std::memset(&e, 0, sizeof e);
    e.kind = TAVRIN_EVENT_DEVICE_SWITCHED_OFF;
    e.device_class = 4;
    e.index = e.old_index = 40;
    e.device_count = 2;
    e.time_ns = 123456789000000;
    std::snprintf(e.serial, sizeof e.serial, "LHB-1");
    csv.writeEvent(e);
    ASSERT_TRUE(csv.finish(error)) << error;
    EXPECT_EQ(csv.rows(), 4u);
    EXPECT_FALSE(exists(path + ".partial"));

    std::istringstream in(readFile(path));
    std::string line;
    std::vector<std::string> rows, events;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        if (line.rfind("#event2,", 0) == 0)
            events.push_back(line);
        else if (line[0] == '#')
            continue;
        else if (header.empty())
            header = split(line, ',');
        else
            rows.push_back(line);
    }
    // 0.2.0's columns first, unchanged, then the frame's, then the role.
    ASSERT_EQ(header.size(), 35u);
    EXPECT_EQ(header[0], "read");
    EXPECT_EQ(header[2], "serial");
    EXPECT_EQ(header[18], "angvel_z");
    EXPECT_EQ(header[19], "frame");
    EXPECT_EQ(header[24], "tracking_result");
    EXPECT_EQ(header[25], "role");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(header[26], "rot_00");
    EXPECT_EQ(header[34], "rot_22");
    const auto f = split(rows[0], ',');
    ASSERT_EQ(f.size(), 35u);
    EXPECT_EQ(std::strtof(f[29].c_str(), nullptr), frame.devices[0].rotation[1][0]) << "the rotation's rows";
    EXPECT_EQ(f[25], "head");
    EXPECT_EQ(f[0], "1");
    EXPECT_EQ(f[1], "1234.500");
    EXPECT_EQ(f[2], "LHR-A");
    EXPECT_EQ(f[3], "0");
    EXPECT_EQ(f[4], "1");
    EXPECT_EQ(f[5], "1");
    EXPECT_EQ(f[19], "41");
    EXPECT_EQ(f[20], "123456789012345");
    EXPECT_EQ(f[21], "1765000000123456789");
    const tavrin_device& d = frame.devices[0];
    const float expected[] = {d.position[0],    d.position[1],    d.position[2],         d.orientation[0],
                              d.orientation[1], d.orientation[2], d.orientation[3],      d.velocity[0],
                              d.velocity[1],    d.velocity[2],    d.angular_velocity[0], d.angular_velocity[1],
                              d.angular_velocity[2]};
    for (int k = 0; k < 13; ++k)
        EXPECT_EQ(std::strtof(f[6 + k].c_str(), nullptr), expected[k]) << header[6 + k];
    EXPECT_NE(rows[1].find("\"ODD,SERIAL\"\"X\",40,4,0,"), std::string::npos) << "quoted, a base station, not ok";
    EXPECT_NE(rows[1].find(",0,1,101,none,"), std::string::npos) << "switched off, its tracking result as reported";
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], "#event2,123456789000000,device_switched_off,LHB-1,4,40,40,2");
    std::remove(path.c_str());
}

// A serial may hold any character the runtime sends, a line break too: the recording quotes it
// and the reader takes the quoted line break as part of the field.
TEST(MonitorCsv, ASerialWithALineBreakReplays)
{
    const std::string path = tempPath("tavrin_monitor_newline.csv");
    CsvWriter csv;
    std::string error;
    ASSERT_TRUE(csv.open(path, error, true)) << error;
    static tavrin_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.device_count = 2;
    frame.devices[0] = device("TRK\n\"B\"\r\nC", 3, 3, 0.1f, 1.0f, 0.2f);
    frame.devices[1] = device("LHR-A", 4, 3, 0.3f, 1.0f, 0.2f);
    for (int k = 1; k <= 3; ++k) {
        frame.frame_number = static_cast<uint64_t>(k);
        frame.time_ns = k * 8333333;
        csv.write(static_cast<unsigned long long>(k), frame, k * 8.3);
    }
    ASSERT_TRUE(csv.finish(error)) << error;
    recording::Recording rec;
    ASSERT_TRUE(recording::loadRecording(path, rec, error)) << error;
    ASSERT_EQ(rec.tracks.size(), 2u);
    EXPECT_EQ(rec.tracks[0].serial, "TRK\n\"B\"\r\nC");
    EXPECT_EQ(rec.tracks[0].samples.size(), 3u);
    EXPECT_EQ(rec.tracks[1].samples.size(), 3u);
    std::remove(path.c_str());
}

TEST(MonitorVmc, PosesInTheReceiversFrameWithoutBaseStations)
{
    static tavrin_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.device_count = 5;
    frame.devices[0] = device("HMD", 0, 1, 0.1f, 1.7f, -0.3f);
    frame.devices[1] = device("BASE", 1, 4, 2.0f, 2.5f, 2.0f);
    frame.devices[2] = device("CTL", 5, 2, 0.2f, 1.0f, 0.4f);
    frame.devices[3] = device("OFF", 20, 3, 0.0f, 0.1f, 0.0f);
    frame.devices[3].connected = 0;
    frame.devices[4] = device("TRK", 33, 3, -0.5f, 0.9f, 1.5f);
    frame.devices[4].pose_valid = 0;
    const std::vector<VmcPose> poses = vmcPoses(frame);
    ASSERT_EQ(poses.size(), 2u) << "base stations, switched-off devices and invalid poses are not sent";
    EXPECT_STREQ(poses[0].address, "/VMC/Ext/Hmd/Pos");
    EXPECT_STREQ(poses[1].address, "/VMC/Ext/Con/Pos");
    EXPECT_EQ(poses[0].serial, "HMD");
    // Unity: left-handed, +z forward. Position (x, y, -z); quaternion (-qx, -qy, qz, qw), sent x y z w.
    EXPECT_FLOAT_EQ(poses[0].position[2], 0.3f);
    EXPECT_FLOAT_EQ(poses[0].position[0], 0.1f);
    const float* q = frame.devices[0].orientation; // w x y z
    EXPECT_FLOAT_EQ(poses[0].rotation[0], -q[1]);
    EXPECT_FLOAT_EQ(poses[0].rotation[1], -q[2]);
    EXPECT_FLOAT_EQ(poses[0].rotation[2], q[3]);
    EXPECT_FLOAT_EQ(poses[0].rotation[3], q[0]);
    EXPECT_STREQ(vmcAddress(3), "/VMC/Ext/Tra/Pos");
}

// A frame read in a z-up, millimetre space reaches the receivers as the same frame read in
// OpenVR's own space does: the library moves the values back, and a quaternion keeps its sign.
TEST(MonitorVmc, AnySpacesAxesAndUnitsReachTheReceiversAsUnitysMetres)
{
    static tavrin_frame metres, zUp;
    std::memset(&metres, 0, sizeof metres);
    metres.device_count = 1;
    metres.devices[0] = device("HMD", 0, 1, 0.1f, 1.7f, -0.3f);
    const float q[4] = {-0.2f, 0.1f, 0.3826834f, 0.9f}; // w < 0: a sign to keep
    std::memcpy(metres.devices[0].orientation, q, sizeof q);
    zUp = metres;
    const tavrin_space space = {{0, 0, 0}, {1, 0, 0, 0}, TAVRIN_AXES_Z_UP, 1000.0f};
    ASSERT_EQ(tavrin_space_convert(nullptr, &space, &zUp.devices[0]), 0);
    EXPECT_FLOAT_EQ(zUp.devices[0].position[2], 1700.0f) << "z up, millimetres";
    const VmcPose a = vmcPoses(metres).at(0), b = vmcPoses(zUp, space).at(0);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(a.position[i], b.position[i], 1e-6f);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a.rotation[i], b.rotation[i]);
    tavrin_space bad = space;
    bad.units_per_metre = 0.0f;
    EXPECT_EQ(tavrin_space_convert(&bad, nullptr, &zUp.devices[0]), ViveSystem::DeviceError_InvalidArgument);
}

TEST(MonitorFiles, AnUnwritablePathLeavesNothing)
{
    const std::string path = tempPath("no_such_dir_tavrin/out.csv");
    PendingFile f;
    std::string error;
    EXPECT_FALSE(f.open(path, error));
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(path + ".partial"));

    const std::string ok = tempPath("tavrin_discarded.svg");
    {
        PendingFile g;
        ASSERT_TRUE(g.open(ok, error));
        std::fputs("<svg/>", g.stream());
    } // never committed: discarded
    EXPECT_FALSE(exists(ok));
    EXPECT_FALSE(exists(ok + ".partial"));
}

#ifndef _WIN32
// What a path names decides how it is written; nothing but a regular file is ever replaced.
TEST(MonitorFiles, OnlyRegularFilesAreReplaced)
{
    const std::string dir = tempPath("tavrin_paths");
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "/emptydir'").c_str());
    std::string error;
    PendingFile f;
    EXPECT_FALSE(f.open(dir + "/emptydir", error)) << "a directory is refused at once";
    EXPECT_NE(error.find("directory"), std::string::npos);
    struct stat st {};
    EXPECT_TRUE(stat((dir + "/emptydir").c_str(), &st) == 0 && S_ISDIR(st.st_mode));

    // A symlink is followed: its target is written, the link stays a link.
    std::ofstream(dir + "/real.csv") << "old";
    ASSERT_EQ(symlink("real.csv", (dir + "/link.csv").c_str()), 0);
    ASSERT_TRUE(f.open(dir + "/link.csv", error)) << error;
    std::fputs("new", f.stream());
    ASSERT_TRUE(f.commit(error)) << error;
    EXPECT_TRUE(lstat((dir + "/link.csv").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    std::ifstream real(dir + "/real.csv");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(real), {}), "new");

    // A FIFO is written directly and stays a FIFO.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(f.open(fifo, error)) << error;
    std::fputs("row\n", f.stream());
    ASSERT_TRUE(f.commit(error)) << error;
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 4);
    ::close(reader);
    EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

    // A write error (here the file-size limit, as a full disk would) fails the commit and leaves
    // nothing at a regular path.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string big = dir + "/big.csv";
    ASSERT_TRUE(f.open(big, error));
    for (int i = 0; i < 10000; ++i)
        std::fputs("0123456789\n", f.stream());
    EXPECT_FALSE(f.commit(error));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(exists(big));
    EXPECT_FALSE(exists(big + ".partial"));
    std::system(("rm -rf '" + dir + "'").c_str());
}
#endif

// Frames in z-up millimetres: the floor is x-y seen from +z, the height is z, in millimetres.
TEST(MonitorPlot, TheFloorAndHeightAreTheSpacesOwn)
{
    PlotRecorder plot(100);
    const tavrin_space zUp{{0, 0, 0}, {1, 0, 0, 0}, TAVRIN_AXES_Z_UP, 1000.0f};
    plot.setSpace(zUp);
    static tavrin_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.device_count = 1;
    frame.devices[0] = device("LHR-HEAD", 0, 1, 300.0f, -200.0f, 1650.0f); // 0.3 m ahead, 0.2 m right
    plot.add(frame, 0.0f);
    const Track& t = plot.tracks().at("LHR-HEAD");
    EXPECT_EQ(t.y.at(0), 1650.0f) << "up is z";
    EXPECT_EQ(t.x.at(0), 200.0f) << "right is -y";
    EXPECT_EQ(t.z.at(0), -300.0f) << "forward is x";
    const std::string svg = renderSvg(plot.tracks(), "z up", {}, &plot.space());
    EXPECT_NE(svg.find("height z (mm)"), std::string::npos);
    EXPECT_NE(svg.find("x (mm), forward"), std::string::npos);
}

TEST(MonitorPlot, TheSvgIsWellFormedAndNamesEverySerial)
{
    PlotRecorder plot(100);
    static tavrin_frame frame;
    for (int read = 0; read < 1000; ++read) {
        std::memset(&frame, 0, sizeof frame);
        const float a = 0.01f * read;
        frame.devices[0] = device("LHR-HEAD", 0, 1, std::cos(a), 1.65f, std::sin(a));
        frame.devices[1] = device("R&D <proto>", 1, 3, 0.5f * std::cos(a), 1.0f, 0.5f * std::sin(a));
        frame.devices[2] = device("LHB-BASE", 2, 4, 2.0f, 2.5f, 2.0f); // a fixed marker
        frame.device_count = read > 500 ? 1 : 3;                       // a device that leaves midway
        plot.add(frame, 8.33f * read);
    }
    ASSERT_EQ(plot.tracks().size(), 3u) << "every device of the run";
    EXPECT_LE(plot.tracks().at("LHR-HEAD").t.size(), 100u) << "long runs are thinned";
    EXPECT_GE(plot.tracks().at("LHR-HEAD").t.size(), 50u);

    const std::string svg = renderSvg(plot.tracks(), "test run & more");
    std::string why;
    EXPECT_TRUE(wellFormedXml(svg, why)) << why;
    EXPECT_NE(svg.find("LHR-HEAD (headset"), std::string::npos);
    EXPECT_NE(svg.find("R&amp;D &lt;proto&gt; (tracker"), std::string::npos);
    EXPECT_NE(svg.find("<svg xmlns='http://www.w3.org/2000/svg'"), std::string::npos);
    EXPECT_NE(svg.find("Height over time"), std::string::npos);
    EXPECT_NE(svg.find("class='base'"), std::string::npos) << "the base station, beyond the body's plan";
    EXPECT_NE(svg.find("where a path starts"), std::string::npos) << "the markers explained";

    // Twenty-five devices: no two share a colour and a dash; the event names its device.
    std::map<std::string, Track> many;
    for (int n = 0; n < 25; ++n)
        many["LHR-" + std::to_string(100 + n)] = Track{3, {0.0f, 10.0f}, {0.0f, 1.0f}, {1.0f, 1.1f}, {0.0f, 0.1f}, 0};
    const std::string crowded = renderSvg(many, "many", {PlotEvent{5.0f, TAVRIN_EVENT_DEVICE_LEFT, "LHR-104"}});
    std::set<std::string> styles;
    for (size_t at = crowded.find("class='legend'"); at != std::string::npos; at = crowded.find("class='legend'", at + 1)) {
        const size_t stroke = crowded.find("stroke='", at), dash = crowded.find("stroke-dasharray='", at);
        styles.insert(crowded.substr(stroke, 16) + crowded.substr(dash, crowded.find('\'', dash + 18) - dash));
    }
    EXPECT_EQ(styles.size(), 25u);
    EXPECT_NE(crowded.find(">LHR-104 left</text>"), std::string::npos);
    EXPECT_NE(crowded.find("px up: it overlaps"), std::string::npos) << "identical heights told apart";
    EXPECT_TRUE(wellFormedXml(crowded, why)) << why;

    // Seen from above with -z up: a device ahead (z < 0) is drawn above one behind (z > 0).
    std::map<std::string, Track> ahead;
    ahead["FRONT"] = Track{2, {0.0f, 10.0f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {-1.0f, -1.0f}};
    ahead["BACK"] = Track{2, {0.0f, 10.0f}, {0.0f, 0.0f}, {1.2f, 1.2f}, {1.0f, 1.0f}};
    const std::string oriented = renderSvg(
        ahead, "o",
        {PlotEvent{5.0f, TAVRIN_EVENT_DEVICE_SWITCHED_OFF, "FRONT"}, PlotEvent{6.0f, TAVRIN_EVENT_DEVICE_SWITCHED_ON, "FRONT"}});
    auto startY = [&](size_t nth) { // cy of the nth start marker, in the tracks' order (BACK, FRONT)
        size_t at = 0;
        for (size_t i = 0; i <= nth; ++i)
            at = oriented.find("<circle", at + 1);
        return std::stod(oriented.substr(oriented.find("cy='", at) + 4));
    };
    EXPECT_LT(startY(1), startY(0)) << "FRONT is above BACK";
    size_t marks = 0;
    for (size_t at = oriented.find("class='event'"); at != std::string::npos; at = oriented.find("class='event'", at + 1))
        ++marks;
    EXPECT_EQ(marks, 1u) << "the switch-off is marked; the switch-on is not";
    EXPECT_TRUE(wellFormedXml(oriented, why)) << why;

    std::string broken = svg;
    broken.replace(broken.find("</svg>"), 6, "</g>");
    EXPECT_FALSE(wellFormedXml(broken, why)) << "the checker itself catches a broken document";
    EXPECT_TRUE(wellFormedXml(renderSvg({}, "empty"), why)) << why;
}

// An 80 x 24 terminal shows every device of the full-body rig's size, columns dropped as needed,
// and no line wider than the terminal.
// BVH's Z X Y Euler angles give the rotation back (at a right angle about x too), and a rotation
// turning through a wrap gives angles that turn on instead of jumping a whole or half turn.
TEST(MonitorAnimation, EulerAnglesGiveTheRotationBackAndTurnOn)
{
    auto quaternionOf = [](const double zxy[3]) {      // Rz * Rx * Ry, w x y z
        const double r = 3.14159265358979323846 / 360; // half the angle, in radians
        const double h[3] = {zxy[0] * r, zxy[1] * r, zxy[2] * r};
        const double z[4] = {std::cos(h[0]), 0, 0, std::sin(h[0])}, x[4] = {std::cos(h[1]), std::sin(h[1]), 0, 0},
                     y[4] = {std::cos(h[2]), 0, std::sin(h[2]), 0};
        auto mul = [](const double* a, const double* b, double* o) {
            o[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
            o[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
            o[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
            o[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
        };
        double zx[4], q[4];
        mul(z, x, zx);
        mul(zx, y, q);
        return std::vector<double>(q, q + 4);
    };
    const double cases[][4] = {{0.3, 0.5, -0.2, 0.8},         {0.5, 0.5, 0.5, 0.5}, {0.7071068, 0.7071068, 0, 0},
                               {0.7071068, -0.7071068, 0, 0}, {0, 0, 1, 0},         {0.1, 0.2, 0.3, 0.927}};
    for (const auto& c : cases) {
        const double n = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2] + c[3] * c[3]);
        const float q[4] = {float(c[0] / n), float(c[1] / n), float(c[2] / n), float(c[3] / n)};
        double zxy[3];
        monitor::zxyDegrees(q, zxy);
        const std::vector<double> back = quaternionOf(zxy);
        const double norm =
            std::sqrt(double{q[0]} * q[0] + double{q[1]} * q[1] + double{q[2]} * q[2] + double{q[3]} * q[3]);
        const double dot = std::abs(back[0] * q[0] + back[1] * q[1] + back[2] * q[2] + back[3] * q[3]) / norm;
        EXPECT_NEAR(dot, 1.0, 1e-12) << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
    }
    // A whole turn about y, then one about z through 180 degrees: each step turns the angles by
    // about a degree.
    double previous[3] = {0, 0, 0};
    for (int step = 0; step <= 720; ++step) {
        const double about[3] = {step > 360 ? step - 360.0 : 0, 10, step <= 360 ? 150.0 + step : 510.0};
        const std::vector<double> qd = quaternionOf(about);
        const float q[4] = {float(qd[0]), float(qd[1]), float(qd[2]), float(qd[3])};
        double zxy[3];
        monitor::zxyDegrees(q, zxy, step == 0 ? nullptr : previous);
        if (step > 0) {
            ASSERT_LT(std::abs(zxy[0] - previous[0]) + std::abs(zxy[1] - previous[1]) + std::abs(zxy[2] - previous[2]),
                      1.5)
                << "step " << step;
        }
        std::copy(zxy, zxy + 3, previous);
    }
}

TEST(MonitorAnimation, JointNames)
{
    EXPECT_EQ(monitor::jointName("LHR-1", TAVRIN_ROLE_LEFT_FOOT), "left_foot");
    EXPECT_EQ(monitor::jointName("LHR-1 \xc3\xa9t\xe2\x82\xac", 0), "LHR_1__t_"); // UTF-8 sequences: one '_' each
    EXPECT_EQ(monitor::jointName("\xff\xfe", 0), "__");
    EXPECT_EQ(monitor::jointName("", 0), "device");
}

TEST(MonitorTable, EveryDeviceFitsAnEightyByTwentyFourTerminal)
{
    Board board;
    static tavrin_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.frame_number = 1;
    frame.device_count = 18;
    for (uint32_t i = 0; i < 18; ++i) {
        const std::string serial = "LHR-" + std::to_string(10000000 + i);
        frame.devices[i] = device(serial.c_str(), i, i < 4 ? 4 : 3, 0.1f * i, 1.0f, -0.2f);
        frame.devices[i].role = static_cast<uint8_t>(i % 16);
        frame.devices[i].velocity[0] = i == 7 ? 2.0f : 0.0f; // one tracker waved
        tavrin_event e{};
        e.kind = TAVRIN_EVENT_DEVICE_ARRIVED;
        e.index = i;
        e.device_class = frame.devices[i].device_class;
        std::snprintf(e.serial, sizeof e.serial, "%s", serial.c_str());
        board.noteEvent(e);
        board.recentEvents.push_back("an event line long enough to need cutting at the terminal's edge, and more");
    }
    board.noteFrame(frame, 0.0);
    TableView view;
    view.columns = 80;
    view.rows = 24;
    const std::string screen = renderTable(board, view);
    std::vector<std::string> lines;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) {
        std::string visible; // without the escape sequences
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\x1b')
                i = line.find_first_of("HJm", i);
            else
                visible += line[i];
        }
        EXPECT_LE(visible.size(), 79u) << visible;
        lines.push_back(visible);
    }
    EXPECT_LE(lines.size(), 23u) << "the last line stays free";
    for (uint32_t i = 0; i < 18; ++i)
        EXPECT_NE(screen.find("LHR-" + std::to_string(10000000 + i)), std::string::npos) << i;
    EXPECT_NE(screen.find("l_foot"), std::string::npos) << "roles shown";
    EXPECT_EQ(screen.find("more devices"), std::string::npos);
    const size_t marked = screen.find("\x1b[7m"); // the waved tracker, and it alone
    ASSERT_NE(marked, std::string::npos);
    EXPECT_EQ(marked, screen.find("\x1b[7mLHR-10000007"));
    EXPECT_EQ(screen.find("\x1b[7m", marked + 1), std::string::npos);
}
