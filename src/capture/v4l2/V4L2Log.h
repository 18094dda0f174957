#pragma once

#include <QLoggingCategory>

// Logging of the V4L2 backend ("tavrel.capture.v4l2"): each failing driver call with its errno.
Q_DECLARE_LOGGING_CATEGORY(lcV4L2)
