#pragma once

#include <QLoggingCategory>

// Logging of device discovery: why a device was left out of the tables.
Q_DECLARE_LOGGING_CATEGORY(lcDevice)
