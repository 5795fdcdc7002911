#include "export_report.h"

namespace velnor {

void reportExportFailure(const Failure& failure) noexcept {
    // Failures are not written anywhere yet: the log record of each failure point arrives
    // with the logging framework.
    static_cast<void>(failure);
}

}  // namespace velnor
