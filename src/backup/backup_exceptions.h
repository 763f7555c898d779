// The backup's exceptions: the executor, the file list and the result files. Codes and messages as
// the program's exception family gives them.
#pragma once

#include "base/app_exception.h"

namespace tessarine {

TESSARINE_DECLARE_EXCEPTION(CBackupExecuteException);  // backup executor
TESSARINE_DECLARE_EXCEPTION(CBackupSQLException);      // backup file list
TESSARINE_DECLARE_EXCEPTION(CBackupXMLException);      // backup result files

}  // namespace tessarine
