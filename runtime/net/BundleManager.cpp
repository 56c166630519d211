#include "BundleManager.h"

#include <cstdint>
#include <cstdlib>
#include <new>

constinit CBundleManager CBundleManager::s_instance;

CBundleManager *CBundleManager::getInstance()
{
    return &s_instance;
}

CBundleManager::~CBundleManager()
{
    clear();
}

BufferBundle *CBundleManager::getBundle(int size)
{
    m_bundleSize = size;
    if (size <= 0)
        return nullptr;
    for (BufferBundle **link = &m_freeList; *link != nullptr; link = &(*link)->next) {
        BufferBundle *bundle = *link;
        if (bundle->size != size)
            continue;
        *link = bundle->next;
        --m_freeBundles;
        bundle->next = nullptr;
        bundle->count = 0;
        return bundle;
    }
    return allocBundle(size);
}

BufferBundle *CBundleManager::allocBundle(int size)
{
    if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX - sizeof(BufferBundle))
        return nullptr;
    void *memory = std::malloc(sizeof(BufferBundle) + static_cast<size_t>(size));
    if (memory == nullptr)
        return nullptr;
    BufferBundle *bundle = new (memory) BufferBundle{nullptr, size, 0};
    ++m_totalBundles;
    return bundle;
}

void CBundleManager::returnBundle(BufferBundle *bundle)
{
    if (bundle == nullptr)
        return;
    bundle->next = m_freeList;
    m_freeList = bundle;
    ++m_freeBundles;
}

void CBundleManager::deallocBundle(BufferBundle *bundle)
{
    if (bundle == nullptr)
        return;
    bundle->~BufferBundle();
    std::free(bundle);
    --m_totalBundles;
    --m_freeBundles;
}

void CBundleManager::clear()
{
    while (m_freeList != nullptr) {
        BufferBundle *bundle = m_freeList;
        m_freeList = bundle->next;
        deallocBundle(bundle);
    }
}

void CBundleManager::init()
{
    m_freeList = nullptr;
    m_bundleSize = 0;
    m_totalBundles = 0;
    m_freeBundles = 0;
}
