// `zugen4 serve`: registers the subcommand with the tool.
#pragma once

#include "ToolContext.h"

namespace Zu::Tool {

void AddServeCommand(CLI::App& app, TToolContext& ctx);

}  // namespace Zu::Tool
