#include "ZoneRpcNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <SharedLib/SharedLib.h>

#include "ZoneRpcs.h"

namespace zone {

bool WriteRpcNameTable(std::string const &path, std::string &error)
{
    RegisterZoneRpcs();
    CRpcMgr *manager = CRpcMgr::GetInstance();
    FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(file, "# RPC identifier and name, one per line\n");
    for (int i = 0; i < manager->getRpcTypeCount(); ++i) {
        char const *name = manager->getRpcTypeNameByIndex(i);
        CRpc *rpc = manager->FindRpc(name);
        if (rpc != nullptr)
            std::fprintf(file, "0x%08X %s\n", static_cast<unsigned>(rpc->GetID()), name);
    }
    if (std::fclose(file) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace zone
