#include "capture/v4l2/V4L2Log.h"

Q_LOGGING_CATEGORY(lcV4L2, "tavrel.capture.v4l2")
