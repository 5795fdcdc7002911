// Finds the vendor library at run time and creates its API object. The library is loaded on
// the first call that needs it, once, under a lock; a load that fails is tried again on the
// next call, so a driver installed later is found without restarting the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "qir_sys/library.h"
#include "syn_com.h"

namespace velnor {

// HRESULT_FROM_WIN32(126) and (127): no vendor library, or one without the factory.
constexpr int32_t kHResultModuleNotFound = static_cast<int32_t>(0x8007007E);
constexpr int32_t kHResultProcNotFound = static_cast<int32_t>(0x8007007F);

class VendorLoader {
  public:
    explicit VendorLoader(const qir::sys::PluginName& name) : m_name(name) {}
    VendorLoader(const VendorLoader&) = delete;
    VendorLoader& operator=(const VendorLoader&) = delete;

    // SynCreateAPI through the loaded library, or the code of the failed load.
    int32_t createApi(ISynAPI** ppApi);

    // For fork handlers: the load lock, held across a fork, so that the child finds the vendor
    // library loaded with its factory, or not loaded, and the lock free.
    void holdForFork() { m_loadLock.lock(); }
    void releaseAfterFork() { m_loadLock.unlock(); }

  private:
    SynCreateAPIFn factory(int32_t& hResult);

    const qir::sys::PluginName m_name;
    std::mutex m_loadLock;
    std::atomic<SynCreateAPIFn> m_factory{nullptr};
    qir::sys::Library m_library;  // held for as long as the factory may be called
};

// The loader of the product's vendor library, SynCom, made when the library is loaded and held
// across every fork. It is never destroyed, so the vendor library stays loaded until the process
// ends.
VendorLoader& synComLoader();

}  // namespace velnor
