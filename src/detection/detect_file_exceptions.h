// The detection's exceptions: the forwarder, its two databases and its XML files. Codes and
// messages as the program's exception family gives them.
#pragma once

#include "base/app_exception.h"

namespace tessarine {

TESSARINE_DECLARE_EXCEPTION(CDetectFileExecuteException);    // detection forwarder
TESSARINE_DECLARE_EXCEPTION(CDetectFileSQLException);        // detection file list
TESSARINE_DECLARE_EXCEPTION(CDetectFileResultSQLException);  // detection results
TESSARINE_DECLARE_EXCEPTION(CDetectFileXMLException);        // detection XML files

}  // namespace tessarine
