#pragma once

#include <QLoggingCategory>

// Logging of the outside-component replacements (image files, camera flash). Failures the
// callers keep silent are still logged here once, with the failing call.
Q_DECLARE_LOGGING_CATEGORY(lcContracts)
