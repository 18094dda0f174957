#pragma once

#include <QLoggingCategory>

// Logging of the built-in virtual camera ("tavrel.capture.virtual").
Q_DECLARE_LOGGING_CATEGORY(lcVirtualCamera)
