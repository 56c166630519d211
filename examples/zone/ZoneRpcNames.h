#pragma once

// The RPC name table a capture tool reads to name RPC identifiers: one line
// per RPC of this program's table, "0xIDENTIFIER NAME", in identifier order.

#include <string>

namespace zone {

// Writes the demo's RPC name table to `path`; false, with the reason in
// `error`, when the file cannot be written.
bool WriteRpcNameTable(std::string const &path, std::string &error);

}  // namespace zone
