// The three exports' work, written against a backend that supplies the vendor API object and
// takes the failure reports. The exports run it with the loaded vendor library and the
// library's report; tests run it with scripted vendors and recorded reports.
#pragma once

#include <cstdint>

#include "export_report.h"
#include "qir_types.h"
#include "syn_com.h"

namespace velnor {

struct Backend {
    void* context;
    // SynCreateAPI: the result code, and the API object in *ppApi.
    int32_t (*createApi)(void* context, ISynAPI** ppApi);
    void (*report)(void* context, const Failure& failure);
};

// The product's backend: the SynCom library found at run time and reportExportFailure.
const Backend& productBackend();

int32_t getLaunchState(const Backend& backend, unsigned char* pbLaunchState) noexcept;
int32_t setLaunchState(const Backend& backend, unsigned char bLaunchState) noexcept;
int32_t getRegistryKey(const Backend& backend, qir_wchar_t* strRegistryKey,
                       int32_t iCapacity) noexcept;

}  // namespace velnor
