#pragma once

#include <QLoggingCategory>

// Logging of the settings and language files: why a file's values are not used.
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
