#include "synclog.h"

Q_LOGGING_CATEGORY(lcSync, "tarvik.sync", QtCriticalMsg)
