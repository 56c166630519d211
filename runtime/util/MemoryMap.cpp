#include "MemoryMap.h"

#include "../enums/Log.h"
#include "../log/LogStatement.h"
#include "Conversions.h"

MemoryMap::MemoryMap(char const *fileName)
{
    m_file = platform::OpenFileForMapping(fileName);
    if (m_file == platform::INVALID_FILE_HANDLE) {
        describeLastError("MemoryMap: Unable to open file");
        return;
    }
    if (!platform::GetFileSize(m_file, &m_size)) {
        m_size = 0;
        describeLastError("MemoryMap: Unable to get file size");
        return;
    }
    if (m_size == 0) {
        SHAREDLIB_LOG(LogSev_Error, Log_Generic, "MemoryMap: Cannot create file mapping on 0-byte file");
        return;
    }
    m_mapping = platform::CreateFileMapping(m_file);
    if (m_mapping == nullptr) {
        describeLastError("MemoryMap: Unable to create file mapping");
        return;
    }
    m_view = platform::MapViewOfFile(m_mapping);
    if (m_view == nullptr)
        describeLastError("MemoryMap: Unable to map view of file");
}

MemoryMap::~MemoryMap()
{
    if (m_view != nullptr)
        platform::UnmapViewOfFile(m_view);
    if (m_mapping != nullptr)
        platform::CloseFileMapping(m_mapping);
    if (m_file != platform::INVALID_FILE_HANDLE)
        platform::CloseMappedFile(m_file);
}
