// The server search's XML exception. Codes and messages as the
// program's exception family gives them.
#pragma once

#include "base/app_exception.h"

namespace tessarine {

TESSARINE_DECLARE_EXCEPTION(CSearchAgentXMLException);  // server search XML

}  // namespace tessarine
