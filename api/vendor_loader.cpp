#include "vendor_loader.h"

#include <new>

#include "qir_sys/process.h"

#include "vendor_library.h"

namespace velnor {

int32_t VendorLoader::createApi(ISynAPI** ppApi) {
    int32_t hResult = 0;
    const SynCreateAPIFn create = factory(hResult);
    return create != nullptr ? create(ppApi) : hResult;
}

SynCreateAPIFn VendorLoader::factory(int32_t& hResult) {
    SynCreateAPIFn create = m_factory.load(std::memory_order_acquire);
    if (create != nullptr) {
        return create;
    }
    std::lock_guard<std::mutex> guard(m_loadLock);
    create = m_factory.load(std::memory_order_relaxed);
    if (create != nullptr) {
        return create;
    }
    uint32_t error = 0;
    qir::sys::Library library = qir::sys::openPlugin(m_name, error);
    if (!library) {
        hResult = kHResultModuleNotFound;
        return nullptr;
    }
    create = reinterpret_cast<SynCreateAPIFn>(library.symbol(kSynCreateAPIName));
    if (create == nullptr) {
        hResult = kHResultProcNotFound;
        return nullptr;
    }
    m_library = std::move(library);
    m_factory.store(create, std::memory_order_release);
    return create;
}

namespace {

void holdSynCom() {
    synComLoader().holdForFork();
}

void releaseSynCom() {
    synComLoader().releaseAfterFork();
}

}  // namespace

VendorLoader& synComLoader() {
    // In static storage that is never torn down.
    alignas(VendorLoader) static unsigned char storage[sizeof(VendorLoader)];
    static VendorLoader* const loader = [] {
        VendorLoader* made = new (storage) VendorLoader(kSynComLibrary);
        qir::sys::atFork(&holdSynCom, &releaseSynCom, &releaseSynCom);
        return made;
    }();
    return *loader;
}

namespace {

// Made at load, so that no fork finds it half made by another thread.
[[maybe_unused]] VendorLoader& g_synComAtLoad = synComLoader();

}  // namespace

}  // namespace velnor
