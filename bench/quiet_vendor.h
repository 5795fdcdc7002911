// A vendor whose every call answers at once: SynCreateAPI in the shape of a backend's hook.
#pragma once

#include <cstdint>

#include "syn_com.h"

int32_t createQuietApi(void* context, ISynAPI** ppApi);
