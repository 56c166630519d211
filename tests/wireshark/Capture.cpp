#include "Capture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace capture {
namespace {

void put(std::string &out, uint32_t value, int bytes, bool bigEndian)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * (bigEndian ? bytes - 1 - i : i)));
}

}  // namespace

void PcapWriter::Tcp(uint16_t port, uint16_t serverPort, std::string const &payload, size_t captured)
{
    uint32_t &next = m_sequences.try_emplace(static_cast<uint32_t>(port) << 16 | serverPort, 1000).first->second;
    add(true, port, serverPort, next, payload, captured);
    next += static_cast<uint32_t>(payload.size());
}

void PcapWriter::Udp(uint16_t port, uint16_t serverPort, std::string const &payload)
{
    add(false, port, serverPort, 0, payload, SIZE_MAX);
}

void PcapWriter::add(bool tcp, uint16_t src, uint16_t dst, uint32_t seq, std::string const &payload, size_t captured)
{
    std::string packet;
    size_t length = (tcp ? 40 : 28) + payload.size();
    put(packet, 0x45000000u | static_cast<uint32_t>(length), 4, true);  // IPv4; no checksum
    put(packet, 0, 4, true);
    put(packet, 0x40000000u | (tcp ? 6u : 17u) << 16, 4, true);
    put(packet, 0x0A000001u, 4, true);
    put(packet, 0x0A000002u, 4, true);
    put(packet, static_cast<uint32_t>(src) << 16 | dst, 4, true);
    if (tcp) {
        put(packet, seq, 4, true);
        put(packet, 1, 4, true);           // acknowledgement
        put(packet, 0x5018FFFF, 4, true);  // 20-byte header, PSH ACK, window
        put(packet, 0, 4, true);
    } else {
        put(packet, static_cast<uint32_t>(payload.size() + 8) << 16, 4, true);
    }
    size_t kept = packet.size() + std::min(captured, payload.size());
    packet += payload;
    put(m_records, static_cast<uint32_t>(++m_packets), 4, false);  // one second apart
    put(m_records, 0, 4, false);
    put(m_records, static_cast<uint32_t>(kept), 4, false);
    put(m_records, static_cast<uint32_t>(packet.size()), 4, false);
    m_records += packet.substr(0, kept);
}

bool PcapWriter::Save(std::string const &path) const
{
    std::string header;
    for (uint32_t word : {0xA1B2C3D4u, 2u | 4u << 16, 0u, 0u, 262144u, 101u})  // version 2.4, raw IP
        put(header, word, 4, false);
    std::ofstream file(path, std::ios::binary);
    file << header << m_records;
    return static_cast<bool>(file);
}

std::vector<std::vector<std::string>> TsharkResult::Rows() const
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

bool HaveTshark()
{
    return std::system("command -v tshark >/dev/null 2>&1") == 0;
}

TsharkResult RunTshark(std::vector<std::string> const &arguments, int timeoutSeconds)
{
    std::string base = TestDirectory("tshark-" + std::to_string(::getpid()));
    std::string command = "timeout -s KILL " + std::to_string(timeoutSeconds) + " tshark -X 'lua_script:" +
                          SHAREDLIB_DISSECTOR + "'";
    for (auto const &argument : arguments)
        command += " '" + argument + "'";  // no argument holds a quote
    command += " >" + base + "/out 2>" + base + "/err";
    int status = std::system(command.c_str());
    TsharkResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(base + "/out"), ReadFile(base + "/err")};
    std::filesystem::remove_all(base);
    return result;
}

std::string ReadFile(std::string const &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::string TestDirectory(std::string const &name)
{
    auto path = std::filesystem::temp_directory_path() /
                ("sharedlib-wireshark-" + std::to_string(::getuid()) + "-" + name);
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string();
}

}  // namespace capture
