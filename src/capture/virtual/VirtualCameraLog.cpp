#include "capture/virtual/VirtualCameraLog.h"

Q_LOGGING_CATEGORY(lcVirtualCamera, "tavrel.capture.virtual")
