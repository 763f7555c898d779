// The yes/no question of the backup before shutdown, shown on the user-interface thread without
// blocking it. The reply goes into the run's answer; when the run has decided before the user
// replied, the box goes away by itself.
#pragma once

#include <memory>

#include "core/shutdown_answer.h"

class QMessageBox;

namespace tessarine::ui {

// Shows the box (deleted when it closes) and returns it.
QMessageBox* ShowShutdownQuestion(std::shared_ptr<ShutdownAnswer> answer);

}  // namespace tessarine::ui
