// The dissector through tshark: captures made from the library's own bytes
// (every frame form, segments split and joined, datagrams, tagged messages,
// checksums, malformed input), then random and mutated captures. Each test
// skips itself without tshark.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include <SharedLib/SharedLib.h>

#include "ZoneProtocol.h"
#include "support/LogCapture.h"
#include "support/TempDirectory.h"

using namespace std::string_literals;

namespace {

std::string Le(uint64_t value, int bytes, bool bigEndian = false)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * (bigEndian ? bytes - 1 - i : i)));
    return out;
}
std::string Be(uint64_t value) { return Le(value, 4, true); }

// IPv4 packets from 10.0.0.1 to 10.0.0.2; a TCP stream's sequence numbers
// follow on. `captured` keeps only that many payload bytes, as a snapshot length does.
class PcapWriter {
public:
    void Tcp(uint16_t port, uint16_t serverPort, std::string const &payload, size_t captured = SIZE_MAX)
    {
        uint32_t &next = m_sequences.try_emplace(uint32_t{port} << 16 | serverPort, 1000).first->second;
        add(true, port, serverPort, next, payload, captured);
        next += static_cast<uint32_t>(payload.size());
    }
    void Udp(uint16_t port, uint16_t serverPort, std::string const &payload)
    {
        add(false, port, serverPort, 0, payload, SIZE_MAX);
    }
    int Packets() const { return m_packets; }
    bool Save(std::string const &path) const
    {
        std::ofstream file(path, std::ios::binary);  // pcap 2.4, raw IP
        return static_cast<bool>(file << Le(0xA1B2C3D4u, 4) << Le(2u | 4u << 16, 4) << std::string(8, '\0')
                                      << Le(262144u, 4) << Le(101u, 4) << m_records);
    }

private:
    void add(bool tcp, uint16_t src, uint16_t dst, uint32_t seq, std::string const &payload, size_t captured)
    {
        std::string packet = Be(0x45000000u | ((tcp ? 40 : 28) + payload.size())) + Be(0) +  // no checksum
                             Be(0x40000000u | (tcp ? 6u : 17u) << 16) + Be(0x0A000001u) + Be(0x0A000002u) +
                             Be(uint32_t{src} << 16 | dst);
        if (tcp)  // 20-byte header, PSH ACK, window
            packet += Be(seq) + Be(1) + Be(0x5018FFFF) + Be(0);
        else
            packet += Be((payload.size() + 8) << 16);
        size_t kept = packet.size() + std::min(captured, payload.size());
        packet += payload;  // records one second apart
        m_records += Le(++m_packets, 4) + Le(0, 4) + Le(kept, 4) + Le(packet.size(), 4) + packet.substr(0, kept);
    }
    std::string m_records;
    std::map<uint32_t, uint32_t> m_sequences;
    int m_packets = 0;
};

struct TsharkResult {
    int status = -1;
    std::string out, err;
    std::vector<std::vector<std::string>> Rows() const  // lines split at tabs
    {
        std::vector<std::vector<std::string>> rows;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line + "\t");
            auto &row = rows.emplace_back();
            for (std::string field; std::getline(fields, field, '\t');)
                row.push_back(field);
        }
        return rows;
    }
};

#define REQUIRE_TSHARK()                                             \
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)      \
    GTEST_SKIP() << "tshark is not installed"

// tshark with the generated dissector, then `arguments` (none holds a quote).
TsharkResult RunTshark(std::vector<std::string> const &arguments, int timeoutSeconds = 60)
{
    TempDirectory directory;
    std::string const base = directory.host().string();
    std::string command = "timeout -s KILL " + std::to_string(timeoutSeconds) + " tshark -X 'lua_script:" +
                          SHAREDLIB_DISSECTOR + "'";
    for (auto const &argument : arguments)
        command += " '" + argument + "'";
    int status = std::system((command + " >" + base + "/out 2>" + base + "/err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadHostFile(base + "/out"), ReadHostFile(base + "/err")};
}

constexpr uint16_t kOtherPort = 9100;      // claimed through Decode As
constexpr uint16_t kUnclaimedPort = 9200;  // claimed by nothing
constexpr uint16_t kAnnounced = 40001;     // a client's UDP port, announced over TCP
constexpr uint32_t kMove = 0x5A000003;

std::string Message(uint16_t type, std::function<void(CPackedData &)> const &body = {}, bool debug = false,
                    bool md5 = false)
{
    CPackedData packet;
    packet.setDebug(debug); packet.useMD5Checksum(md5); packet.PutUint16(type);
    if (body)
        body(packet);
    if (md5)
        packet.GenerateMD5Checksum();
    return std::string(packet.readData(), static_cast<size_t>(packet.size()));
}

std::string Short(std::string const &message) { return Le(message.size(), 2) + message; }
std::string Long(std::string const &message) { return "\xFD\xFF" + Le(message.size(), 4) + message; }

// A tagged message holding one value of every type.
std::string EveryType()
{
    return Message(Msg_Event, [](CPackedData &p) {
        p.PutBool(true); p.PutUint8(200); p.PutInt8('Z'); p.PutInt32(-5); p.PutInt64(-1234567890123);
        p.PutFloat(1.5f); p.PutDouble(-2.25); p.PutString("hi there"); p.PutData("abc", 3); p.PutMagic();
    }, true);
}

// The lines CPackedData::dump() logs for the message, without its first line.
std::vector<std::string> DumpLines(std::string const &message)
{
    LogCapture capture;
    CPackedData view(message.data(), static_cast<int>(message.size()));
    view.ReadHeader();
    view.dump();
    std::vector<std::string> lines;
    for (auto const &line : capture.lines())
        lines.push_back(line.text.substr(static_cast<size_t>(line.headerLength)));
    if (!lines.empty())
        lines.erase(lines.begin());
    return lines;
}

struct Case {
    Case(char const *n, std::vector<std::string> s, std::vector<std::string> e) : name(n), segments(s), expected(e) {}
    Case &Udp(uint16_t to) { return udp = true, Port(to); }
    Case &Port(uint16_t to) { return port = to, *this; }
    Case &Captured(size_t bytes) { return captured = bytes, *this; }
    Case &Dumped(std::string const &message) { return dumped = message, *this; }

    char const *name;
    std::vector<std::string> segments;  // of one TCP stream, or datagrams
    std::vector<std::string> expected;  // per packet: the fields below that are present
    bool udp = false;
    uint16_t port = zone::kDefaultPort;
    size_t captured = SIZE_MAX;  // payload bytes the capture kept of the last segment
    std::string dumped;          // whose dump the last packet's items repeat
};

// The fields compared, and how the expectations name them.
std::vector<std::pair<char const *, char const *>> const kFields = {
    {"sharedlib.frame", "frame"},         {"sharedlib.length", "len"},       {"sharedlib.type_name", "type"},
    {"sharedlib.rpc_name", "rpc"},        {"sharedlib.rpc_table", "digest"}, {"sharedlib.md5.valid", "md5"},
    {"sharedlib.count", "count"},         {"sharedlib.malformed", "bad"},    {"sharedlib.bad_frame", "bad_frame"},
    {"sharedlib.bad_datagram", "bad_datagram"},
};

std::vector<Case> Cases()
{
    std::string move = Message(Msg_RpcCallFunction, [](CPackedData &p) { p.PutUint32(kMove), p.PutInt32(7); });
    std::string test = Message(Msg_Test, [](CPackedData &p) { p.PutData("xyz", 3); });
    std::string update = Message(Msg_UpdateObject, [](CPackedData &p) { p.PutUint32(1); });
    std::string big = Long(Message(Msg_Test, [](CPackedData &p) { p.PutData(std::string(70000, 'b').data(), 70000); }));
    std::string sealed = Message(Msg_Test, [](CPackedData &p) { p.PutString("sealed"); }, false, true);
    std::string broken = sealed;
    broken[4] ^= 1;
    std::string digest = Message(Msg_RpcTable, [](CPackedData &p) { p.PutData("0123456789abcdef", 16); });
    std::string port = Message(Msg_UDPAnnouncement, [](CPackedData &p) { p.PutUint16(kAnnounced); });
    std::string tagged = Message(Msg_Test, [](CPackedData &p) { p.PutBool(false); }, true, true);
    std::string corrupt = Message(Msg_Test, {}, true) + "z" + "h" + Le(255, 4) + "i" + Le(3, 2) + "ab";
    // Every Msg type alone (RpcTable and RpcCallFunction lack what follows theirs).
    std::string names, frames, lengths, types;
    for (int value = 0; value <= Msg_Max; ++value) {
        names += Short(Message(static_cast<uint16_t>(value)));
        frames += value ? ",short" : "short";
        lengths += value ? ",3" : "3";
        if (value)
            types += ',';
        types += value < Msg_Max ? Msg_ValueToName(Msg(value)) : "Unknown";
    }
    return {
        Case("short frame, RPC named", {Short(move)}, {"frame=short len=11 type=RpcCallFunction rpc=Move"}),
        Case("pings and frames joined", {"\xFF\xFF" + Short(test) + "\xFE\xFF" + Short("")},
             {"frame=ping request,short,ping reply,short len=6,0 type=Test"}),
        Case("two frames, a third split inside its length", {Short(test) + Short(move) + Short(move).substr(0, 1),
             Short(move).substr(1)}, {"frame=short,short len=6,11 type=Test,RpcCallFunction rpc=Move",
                                      "frame=short len=11 type=RpcCallFunction rpc=Move"}),
        Case("long frame over three segments", {big.substr(0, 30000), big.substr(30000, 30000), big.substr(60000)},
             {"", "", "frame=long len=70003 type=Test"}),
        Case("RPC table digest", {Short(digest)},
             {"frame=short len=19 type=RpcTable digest=30313233343536373839616263646566"}),
        Case("checksum good, then bad", {Short(sealed), Short(broken)},
             {"frame=short len=27 type=Test md5=1", "frame=short len=27 type=Test md5=0"}),
        Case("tagged and checksummed", {Short(tagged)}, {"frame=short len=22 type=Test md5=1"}),
        Case("every tag, as dumped", {Short(EveryType())}, {"frame=short len=60 type=Event"}).Dumped(EveryType()),
        Case("bad tag, data and string past the end", {Short(corrupt)}, {"frame=short len=15 type=Test bad=1,1,1"})
            .Dumped(corrupt),
        Case("header above 3; no room for a type", {Short("\x07\x02\x00"s) + Short("\x00\x01"s)},
             {"frame=short,short len=3,2 type=Test bad=1,1"}),
        Case("frame above the limit", {"\xFD\xFF\xF0\xFF\xFF\xFF" + test}, {"bad_frame=1"}),
        Case("frame cut by the snapshot length", {Short(test)}, {"bad_frame=1"}).Captured(5),
        Case("Decode As", {Short(test)}, {"frame=short len=6 type=Test"}).Port(kOtherPort),
        Case("unclaimed port", {Short(test)}, {""}).Port(kUnclaimedPort),
        Case("every Msg name", {names}, {"frame=" + frames + " len=" + lengths + " type=" + types + " bad=1,1"}),
        Case("UDP port announced", {Short(port)}, {"frame=short len=5 type=UDPAnnouncement"}),
        Case("datagram of three", {Short(update) + Short(test) + Short(update)},
             {"len=7,6,7 type=UpdateObject,Test,UpdateObject count=3"}).Udp(kAnnounced),
        Case("datagram with a zero length", {Short(update) + Le(0, 2) + Short(test)},
             {"len=7 type=UpdateObject count=1 bad_datagram=1"}).Udp(kAnnounced),
        Case("datagram message past its end", {Short(update).substr(0, 6)}, {"count=0 bad_datagram=1"}).Udp(kAnnounced),
        Case("datagram to an unannounced port", {Short(update)}, {""}).Udp(kUnclaimedPort),
    };
}

std::string Summary(std::vector<std::string> const &row)
{
    std::string summary;
    for (size_t i = 0; i < kFields.size(); ++i)
        if (!row[i + 1].empty())
            summary += std::string(summary.empty() ? "" : " ") + kFields[i].second + "=" + row[i + 1];
    return summary;
}

}  // namespace

TEST(Dissector, DecodesCapturesOfTheLibrarysBytes)
{
    REQUIRE_TSHARK();
    TempDirectory temp;
    std::string const dir = temp.host().string();
    std::vector<Case> cases = Cases();
    PcapWriter pcap;
    uint16_t client = 50000;
    for (Case const &c : cases) {
        ++client;
        for (size_t i = 0; i < c.segments.size(); ++i)
            c.udp ? pcap.Udp(client, c.port, c.segments[i])
                  : pcap.Tcp(client, c.port, c.segments[i], i + 1 == c.segments.size() ? c.captured : SIZE_MAX);
    }
    ASSERT_TRUE(pcap.Save(dir + "/known.pcap"));
    std::ofstream(dir + "/rpcs.txt") << "# identifier name\n0x5A000003 Move\n";
    // Every Error and Log name the dissector carries, one per line.
    std::ofstream(dir + "/names.lua") << "local f = io.open('" << dir << "/names.txt', 'w')\n"
                                      << "for _, e in ipairs({'Error', 'Log'}) do for v = 0, 1000 do\n"
                                      << "  local n = SharedLibNames[e][v]\n"
                                      << "  if n then f:write(e, ' ', v, ' ', n, '\\n') end\n"
                                      << "end end\nf:close()\n";
    std::vector<std::string> args = {"-X", "lua_script:" + dir + "/names.lua", "-o", "sharedlib.rpc_names:" + dir +
                                     "/rpcs.txt", "-d", "tcp.port==" + std::to_string(kOtherPort) + ",sharedlib", "-r",
                                     dir + "/known.pcap", "-T", "fields", "-e", "frame.number"};
    for (auto const &field : kFields)
        args.insert(args.end(), {"-e", field.first});
    args.insert(args.end(), {"-e", "sharedlib.item", "-e", "_ws.lua.error"});
    TsharkResult result = RunTshark(args);
    ASSERT_EQ(result.status, 0) << result.err;
    auto rows = result.Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(pcap.Packets())) << result.out << result.err;

    size_t packet = 0;
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        for (std::string const &expected : c.expected) {
            auto row = rows[packet++];
            ASSERT_EQ(row.size(), kFields.size() + 3);
            EXPECT_EQ(Summary(row) + row.back(), expected);  // with any Lua error
            if (!c.dumped.empty()) {
                std::string lines;
                for (auto const &line : DumpLines(c.dumped))
                    lines += (lines.empty() ? "" : ",") + line;
                EXPECT_EQ(row[kFields.size() + 1], lines);
            }
        }
    }

    std::string expectedNames;
    for (int v = 0; v < Error_Max; ++v)
        expectedNames += "Error " + std::to_string(v) + " " + Error_ValueToName(static_cast<Error>(v)) + "\n";
    for (int v = 0; v < Log_Max; ++v)
        expectedNames += "Log " + std::to_string(v) + " " + Log_ValueToName(static_cast<Log>(v)) + "\n";
    EXPECT_EQ(ReadHostFile(dir + "/names.txt"), expectedNames);
}

// Random bytes and mutated frames, on claimed ports and (with the heuristics
// on) on others: every packet is dissected, without a Lua error.
TEST(Dissector, SurvivesRandomAndMutatedCaptures)
{
    REQUIRE_TSHARK();
    TempDirectory temp;
    std::string const dir = temp.host().string();
    std::mt19937 random(20240611);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::vector<std::string> seeds;
    for (Case const &c : Cases())
        for (auto const &segment : c.segments)
            if (segment.size() < 4000)
                seeds.push_back(segment);
    PcapWriter pcap;
    for (int i = 0; i < 1500; ++i) {
        // A frame or two, some bytes changed, perhaps cut short; or random bytes.
        std::string bytes = seeds[pick(seeds.size())] + (pick(4) ? "" : seeds[pick(seeds.size())]);
        for (size_t n = pick(4); n > 0 && !bytes.empty(); --n)
            bytes[pick(bytes.size())] = static_cast<char>(random());
        bytes.resize(pick(3) ? bytes.size() : pick(bytes.size() + 1));
        if (pick(5) == 0)
            for (char &b : bytes)
                b = static_cast<char>(random());
        uint16_t port = pick(3) ? zone::kDefaultPort : static_cast<uint16_t>(9000 + pick(20));
        if (pick(2))
            pcap.Tcp(static_cast<uint16_t>(41000 + pick(8)), port, bytes, pick(10) ? SIZE_MAX : pick(bytes.size() + 1));
        else
            pcap.Udp(41000, pick(2) ? kAnnounced : port, bytes);
    }
    ASSERT_TRUE(pcap.Save(dir + "/fuzz.pcap"));
    for (auto const &prefs : std::vector<std::vector<std::string>>{
             {"-o", "sharedlib.udp_ports:" + std::to_string(kAnnounced)},
             {"-o", "sharedlib.heuristics:TRUE", "-o", "tcp.desegment_tcp_streams:FALSE", "-o",
              "sharedlib.max_datagram:65535"}}) {
        std::vector<std::string> args = prefs;
        args.insert(args.end(), {"-r", dir + "/fuzz.pcap", "-T", "fields", "-e", "frame.number", "-e",
                                 "_ws.lua.error"});
        TsharkResult result = RunTshark(args, 120);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err.find("Lua"), std::string::npos) << result.err;
        auto rows = result.Rows();
        ASSERT_EQ(rows.size(), static_cast<size_t>(pcap.Packets()));
        for (auto const &row : rows)
            ASSERT_TRUE(row.size() == 2 && row[1].empty()) << "Lua error in packet " << row[0];
    }
}
