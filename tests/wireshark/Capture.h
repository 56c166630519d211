#pragma once

// Helpers of the dissector tests: pcap files written from known bytes, and
// tshark runs whose -T fields output comes back as rows.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace capture {

// IPv4 packets from 10.0.0.1 to 10.0.0.2; a TCP stream's sequence numbers
// follow on from segment to segment. `captured` below the payload's size keeps
// only that many payload bytes, as a snapshot length does.
class PcapWriter {
public:
    void Tcp(uint16_t port, uint16_t serverPort, std::string const &payload, size_t captured = SIZE_MAX);
    void Udp(uint16_t port, uint16_t serverPort, std::string const &payload);
    int Packets() const { return m_packets; }
    bool Save(std::string const &path) const;

private:
    void add(bool tcp, uint16_t src, uint16_t dst, uint32_t seq, std::string const &payload, size_t captured);
    std::string m_records;
    std::map<uint32_t, uint32_t> m_sequences;
    int m_packets = 0;
};

struct TsharkResult {
    int status = -1;
    std::string out, err;
    std::vector<std::vector<std::string>> Rows() const;  // lines split at tabs
};

bool HaveTshark();
// tshark with the generated dissector, then `arguments`; killed after `timeoutSeconds`.
TsharkResult RunTshark(std::vector<std::string> const &arguments, int timeoutSeconds = 60);
std::string ReadFile(std::string const &path);
// A fresh, empty directory for one test's files.
std::string TestDirectory(std::string const &name);

}  // namespace capture
